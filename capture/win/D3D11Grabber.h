#pragma once

#include "capture/ScreenGrabberImp.h"

#include <dxgi1_2.h>
#include <windows.h>

class OutputDuplication;

// Desktop duplication back end: one DXGI duplication per monitor, reduced to 1/16 per side through mip level
// 4 on the GPU.
class D3D11Grabber : public ScreenGrabberImp
{
public:
    D3D11Grabber() = default;
    ~D3D11Grabber() override;

    bool grabFrames() override;
    bool needsReinit() override;
    QList<ScreenInfo> identifyScreens() override;
    void initScreens(const QList<ScreenInfo>& screens) override;
    void deinitScreens() override;

private:
    HRESULT setupOutput(IDXGIAdapter1* adapter, IDXGIOutput* output, OutputDuplication* duplication);
    // 1 when the output delivered a new image, 0 when it had none or was skipped, -1 when access was lost.
    int grabOutput(ScreenFrame* frame);
    void initScreensUnguarded(const QList<ScreenInfo>& screens);
};
