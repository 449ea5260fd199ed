#pragma once

#include <d3d11.h>
#include <dxgi1_2.h>
#include <windows.h>
#include <wrl/client.h>

// Capture objects of one duplicated monitor.
class OutputDuplication
{
public:
    OutputDuplication();
    ~OutputDuplication();
    OutputDuplication(const OutputDuplication&) = delete;
    OutputDuplication& operator=(const OutputDuplication&) = delete;

    // Releases the GDI objects and every interface; the record is empty afterwards.
    void release();
    void releaseGdi();

    HDC displayDc = nullptr;
    HDC memoryDc = nullptr;
    HBITMAP bitmap = nullptr;
    Microsoft::WRL::ComPtr<ID3D11Device> device;
    Microsoft::WRL::ComPtr<ID3D11DeviceContext> context;
    Microsoft::WRL::ComPtr<IDXGIOutputDuplication> duplication;
    Microsoft::WRL::ComPtr<ID3D11Texture2D> mipTexture;
    Microsoft::WRL::ComPtr<ID3D11ShaderResourceView> view;
    DXGI_OUTDUPL_DESC desc;
};
