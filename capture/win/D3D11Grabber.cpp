#include "capture/win/D3D11Grabber.h"

#include "capture/win/OutputDuplication.h"
#include "core/DiagnosticLog.h"

#include <QDebug>
#include <QVector>

#include <comdef.h>
#include <d3d10.h>
#include <d3d11.h>

#include <cstring>
#include <memory>

using Microsoft::WRL::ComPtr;

namespace {

QString errorText(HRESULT hr)
{
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        DWORD(hr), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    QString text = length && buffer
                       ? QString::fromWCharArray(buffer, int(length))
                       : QStringLiteral("Unknown error 0x%1").arg(quint32(hr), 8, 16, QLatin1Char('0'));
    if (buffer)
        LocalFree(buffer);
    if (text.endsWith(QLatin1String("\r\n")))
        text.chop(2);
    return text;
}

void logFailure(const char* message, HRESULT hr)
{
    qCDebug(lcPivotrix) << message << errorText(hr) << hr;
}

BOOL CALLBACK collectMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data)
{
    auto* screens = reinterpret_cast<QList<ScreenInfo>*>(data);
    if (!monitor)
        return TRUE;
    MONITORINFO info;
    std::memset(&info, 0, sizeof(info));
    info.cbSize = sizeof(MONITORINFO);
    if (!GetMonitorInfoW(monitor, &info)) {
        qCDebug(lcPivotrix) << "failed to get monitor info";
        return FALSE;
    }
    ScreenInfo screen;
    const RECT& r = info.rcMonitor;
    screen.geometry = QRect(int(r.left), int(r.top), int(r.right - r.left), int(r.bottom - r.top));
    screen.name = QStringLiteral("Monitor ") + QString::number(screens->size() + 1);
    screen.monitor = reinterpret_cast<MonitorHandle>(monitor);
    screens->append(screen);
    return TRUE;
}

} // namespace

D3D11Grabber::~D3D11Grabber()
{
    qCDebug(lcPivotrix) << "delete D3D11Grabber";
    deinitScreens();
}

QList<ScreenInfo> D3D11Grabber::identifyScreens()
{
    qCDebug(lcPivotrix) << "identify screens";
    QList<ScreenInfo> screens;
    if (!EnumDisplayMonitors(nullptr, nullptr, collectMonitor, reinterpret_cast<LPARAM>(&screens)))
        qCDebug(lcPivotrix) << "failed to enumerate displays";
    return screens;
}

void D3D11Grabber::initScreens(const QList<ScreenInfo>& screens)
{
    qCDebug(lcPivotrix) << "init screens" << screens.size();
    m_reinitTimer.invalidate();
    if (m_systemLocked) {
        qCDebug(lcPivotrix) << "system locked try later";
        return;
    }
    try {
        initScreensUnguarded(screens);
        return;
    } catch (const _com_error& e) {
        qCDebug(lcPivotrix) << "Com error" << e.Error();
    } catch (...) {
        qCDebug(lcPivotrix) << "unknown error";
    }
    if (m_frames.size() == screens.size())
        m_state = Ready;
}

void D3D11Grabber::initScreensUnguarded(const QList<ScreenInfo>& screens)
{
    ComPtr<IDXGIFactory1> factory;
    HRESULT hr =
        CreateDXGIFactory1(__uuidof(IDXGIFactory1), reinterpret_cast<void**>(factory.GetAddressOf()));
    if (FAILED(hr)) {
        logFailure("failed to create factory", hr);
        return;
    }

    // Records follow the screen list, so image i always belongs to "Monitor i+1".
    QVector<ScreenFrame*> byScreen(screens.size(), nullptr);
    auto commit = [this, &byScreen] {
        for (ScreenFrame* frame : qAsConst(byScreen)) {
            if (frame)
                m_frames.append(frame);
        }
        byScreen.fill(nullptr);
    };

    for (UINT a = 0;; ++a) {
        ComPtr<IDXGIAdapter1> adapter;
        hr = factory->EnumAdapters1(a, adapter.GetAddressOf());
        if (hr == DXGI_ERROR_NOT_FOUND)
            break;
        if (FAILED(hr)) {
            logFailure("failed to enumerate adapters", hr);
            break;
        }
        DXGI_ADAPTER_DESC1 adapterDesc;
        hr = adapter->GetDesc1(&adapterDesc);
        if (FAILED(hr)) {
            logFailure("failed to acquire adapter description", hr);
            commit();
            return;
        }
        qCDebug(lcPivotrix) << "found adapter " << QString::fromWCharArray(adapterDesc.Description);

        for (UINT o = 0;; ++o) {
            ComPtr<IDXGIOutput> output;
            hr = adapter->EnumOutputs(o, output.GetAddressOf());
            if (hr == DXGI_ERROR_NOT_FOUND)
                break;
            qCDebug(lcPivotrix) << "enum output" << hr;
            if (FAILED(hr) || !output)
                break;
            DXGI_OUTPUT_DESC outputDesc;
            std::memset(&outputDesc, 0, sizeof(outputDesc));
            hr = output->GetDesc(&outputDesc);
            qCDebug(lcPivotrix) << "get adapter output" << QString::fromWCharArray(outputDesc.DeviceName)
                                << hr;
            if (FAILED(hr) || !outputDesc.Monitor) {
                logFailure("failed to get ouput desctiption", hr);
                break;
            }

            for (int i = 0; i < screens.size(); ++i) {
                const ScreenInfo& screen = screens.at(i);
                if (screen.monitor != reinterpret_cast<MonitorHandle>(outputDesc.Monitor) || byScreen.at(i))
                    continue;
                const int w = screen.geometry.width() >> 4;
                const int h = screen.geometry.height() >> 4;
                auto duplication = std::make_unique<OutputDuplication>();
                hr = setupOutput(adapter.Get(), output.Get(), duplication.get());
                if (FAILED(hr)) {
                    duplication->release();
                    logFailure("failed to init directx", hr);
                    break;
                }
                qCDebug(lcPivotrix) << "dimensions " << w << "x" << h << screen.monitor;

                // The GDI objects only tell the row length and bit depth of the desktop.
                duplication->displayDc = CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
                duplication->bitmap = CreateCompatibleBitmap(duplication->displayDc, w, h);
                duplication->memoryDc = CreateCompatibleDC(duplication->displayDc);
                SelectObject(duplication->memoryDc, duplication->bitmap);
                BITMAP bitmap;
                std::memset(&bitmap, 0, sizeof(bitmap));
                GetObjectW(duplication->bitmap, sizeof(BITMAP), &bitmap);
                duplication->releaseGdi();
                const int bytesPerPixel = bitmap.bmBitsPixel / 8;
                if (bytesPerPixel != 4)
                    qCCritical(lcPivotrix) << "Not 32-bit mode is not supported!" << bytesPerPixel;

                auto* frame = new ScreenFrame;
                frame->size = qint64(bitmap.bmWidthBytes) * bitmap.bmHeight;
                frame->buffer = frame->size > 0 ? new uchar[size_t(frame->size)] : nullptr;
                frame->valid = 1;
                frame->width = w;
                frame->height = h;
                frame->name = screen.name;
                frame->geometry = screen.geometry;
                frame->monitor = screen.monitor;
                frame->duplication = duplication.release();
                frame->stride = bitmap.bmWidthBytes;
                byScreen[i] = frame;
            }
        }
    }
    commit();
    if (m_frames.size() == screens.size())
        m_state = Ready;
}

HRESULT D3D11Grabber::setupOutput(IDXGIAdapter1* adapter, IDXGIOutput* output, OutputDuplication* duplication)
{
    try {
        const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1,
                                            D3D_FEATURE_LEVEL_10_0, D3D_FEATURE_LEVEL_9_1};
        ComPtr<ID3D11Device> device;
        ComPtr<ID3D11DeviceContext> context;
        D3D_FEATURE_LEVEL level;
        // A device of the output's own adapter first: only that one can duplicate the output.
        HRESULT hr =
            D3D11CreateDevice(adapter, D3D_DRIVER_TYPE_UNKNOWN, nullptr, 0, levels, 4, D3D11_SDK_VERSION,
                              device.GetAddressOf(), &level, context.GetAddressOf());
        if (FAILED(hr)) {
            const D3D_DRIVER_TYPE types[] = {D3D_DRIVER_TYPE_HARDWARE, D3D_DRIVER_TYPE_WARP,
                                             D3D_DRIVER_TYPE_REFERENCE};
            for (D3D_DRIVER_TYPE type : types) {
                hr = D3D11CreateDevice(nullptr, type, nullptr, 0, levels, 4, D3D11_SDK_VERSION,
                                       device.ReleaseAndGetAddressOf(), &level,
                                       context.ReleaseAndGetAddressOf());
                if (SUCCEEDED(hr))
                    break;
            }
        }
        if (FAILED(hr)) {
            logFailure("failed to acquire frame", hr);
            return hr;
        }

        ComPtr<ID3D10Multithread> multithread;
        hr = context.As(&multithread);
        if (FAILED(hr)) {
            logFailure("failed to query interface", hr);
            return hr;
        }
        multithread->SetMultithreadProtected(TRUE);
        multithread.Reset();

        ComPtr<IDXGIOutput1> output1;
        hr = output->QueryInterface(__uuidof(IDXGIOutput1), reinterpret_cast<void**>(output1.GetAddressOf()));
        if (FAILED(hr)) {
            logFailure("failed to query interface", hr);
            return hr;
        }
        ComPtr<IDXGIOutputDuplication> outputDuplication;
        hr = output1->DuplicateOutput(device.Get(), outputDuplication.GetAddressOf());
        if (FAILED(hr)) {
            logFailure("failed to duplicate output", hr);
            return hr;
        }
        outputDuplication->GetDesc(&duplication->desc);
        duplication->context = context;
        duplication->device = device;
        duplication->duplication = outputDuplication;

        D3D11_TEXTURE2D_DESC desc;
        std::memset(&desc, 0, sizeof(desc));
        desc.Width = duplication->desc.ModeDesc.Width;
        desc.Height = duplication->desc.ModeDesc.Height;
        desc.MipLevels = 5;
        desc.ArraySize = 1;
        desc.Format = duplication->desc.ModeDesc.Format;
        desc.SampleDesc.Count = 1;
        desc.SampleDesc.Quality = 0;
        desc.Usage = D3D11_USAGE_DEFAULT;
        desc.BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET;
        desc.CPUAccessFlags = 0;
        desc.MiscFlags = D3D11_RESOURCE_MISC_GENERATE_MIPS;
        hr = device->CreateTexture2D(&desc, nullptr, duplication->mipTexture.GetAddressOf());
        if (FAILED(hr)) {
            logFailure("failed to create mip texture", hr);
            return hr;
        }
        return device->CreateShaderResourceView(duplication->mipTexture.Get(), nullptr,
                                                duplication->view.GetAddressOf());
    } catch (...) {
        qCDebug(lcPivotrix) << "execption";
        return 1;
    }
}

bool D3D11Grabber::grabFrames()
{
    if (m_state != Ready)
        return false;
    try {
        bool any = false;
        for (ScreenFrame* frame : qAsConst(m_frames)) {
            const int result = grabOutput(frame);
            if (result < 0) {
                m_state = Lost;
                return false;
            }
            any = any || result > 0;
        }
        return any;
    } catch (const _com_error& e) {
        qCDebug(lcPivotrix) << "Com error" << e.Error();
    } catch (...) {
        qCDebug(lcPivotrix) << "unknown error";
    }
    return false;
}

int D3D11Grabber::grabOutput(ScreenFrame* frame)
{
    OutputDuplication* d = frame->duplication;
    if (!d || !d->duplication || !d->mipTexture || !d->view)
        return 0;
    const UINT modeWidth = d->desc.ModeDesc.Width;
    const UINT modeHeight = d->desc.ModeDesc.Height;
    D3D11_TEXTURE2D_DESC stagingDesc;
    std::memset(&stagingDesc, 0, sizeof(stagingDesc));
    stagingDesc.Width = modeWidth >> 4;
    stagingDesc.Height = modeHeight >> 4;
    stagingDesc.MipLevels = 1;
    stagingDesc.ArraySize = 1;
    stagingDesc.Format = d->desc.ModeDesc.Format;
    stagingDesc.SampleDesc.Count = 1;
    stagingDesc.SampleDesc.Quality = 0;
    stagingDesc.Usage = D3D11_USAGE_STAGING;
    stagingDesc.BindFlags = 0;
    stagingDesc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    stagingDesc.MiscFlags = 0;

    DXGI_OUTDUPL_FRAME_INFO info;
    ComPtr<IDXGIResource> resource;
    HRESULT hr = d->duplication->AcquireNextFrame(0, &info, resource.GetAddressOf());
    if (hr == DXGI_ERROR_WAIT_TIMEOUT)
        return 0;
    if (FAILED(hr)) {
        logFailure("failed to acquire frame", hr);
        return hr == DXGI_ERROR_ACCESS_LOST || hr == DXGI_ERROR_INVALID_CALL ? -1 : 0;
    }

    ComPtr<ID3D11Texture2D> desktop;
    hr = resource.As(&desktop);
    if (FAILED(hr)) {
        qCDebug(lcPivotrix) << "Failed to query interface: " << errorText(hr);
        d->duplication->ReleaseFrame();
        return 0;
    }
    ComPtr<ID3D11Texture2D> staging;
    hr = stagingDesc.Width && stagingDesc.Height
             ? d->device->CreateTexture2D(&stagingDesc, nullptr, staging.GetAddressOf())
             : E_INVALIDARG;
    if (FAILED(hr)) {
        logFailure("failed to create staging texture", hr);
        d->duplication->ReleaseFrame();
        return 0;
    }

    D3D11_BOX full = {0, 0, 0, modeWidth, modeHeight, 1};
    d->context->CopySubresourceRegion(d->mipTexture.Get(), 0, 0, 0, 0, desktop.Get(), 0, &full);
    desktop.Reset();
    resource.Reset();
    // Hand the desktop image back before any further GPU work.
    d->duplication->ReleaseFrame();
    d->context->GenerateMips(d->view.Get());
    D3D11_BOX reduced = {0, 0, 0, stagingDesc.Width, stagingDesc.Height, 1};
    d->context->CopySubresourceRegion(staging.Get(), 0, 0, 0, 0, d->mipTexture.Get(), 4, &reduced);

    D3D11_MAPPED_SUBRESOURCE mapped;
    hr = d->context->Map(staging.Get(), 0, D3D11_MAP_READ, 0, &mapped);
    if (FAILED(hr) || !mapped.pData) {
        logFailure("failed to map staging texture", hr);
        return 0;
    }
    // Rotated monitors or other depths make the record and the texture disagree: copy only what both hold.
    qint64 rows = qMin<qint64>(frame->height, stagingDesc.Height);
    if (frame->stride > 0)
        rows = qMin<qint64>(rows, frame->size / frame->stride);
    const qint64 rowBytes =
        qMin<qint64>(qMin<qint64>(frame->stride, mapped.RowPitch), qint64(stagingDesc.Width) * 4);
    const auto* src = static_cast<const uchar*>(mapped.pData);
    for (qint64 y = 0; frame->buffer && rowBytes > 0 && y < rows; ++y)
        std::memcpy(frame->buffer + y * frame->stride, src + y * mapped.RowPitch, size_t(rowBytes));
    d->context->Unmap(staging.Get(), 0);
    return 1;
}

bool D3D11Grabber::needsReinit()
{
    return reinitDue();
}

void D3D11Grabber::deinitScreens()
{
    qCDebug(lcPivotrix) << "D3D11Grabber deinit screens" << m_frames.size();
    for (ScreenFrame* frame : qAsConst(m_frames)) {
        delete frame->duplication;
        frame->duplication = nullptr;
        delete[] frame->buffer;
        frame->buffer = nullptr;
        frame->size = 0;
    }
    qDeleteAll(m_frames);
    m_frames.clear();
    m_state = NotReady;
}
