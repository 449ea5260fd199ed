#include "capture/win/OutputDuplication.h"

#include <cstring>

OutputDuplication::OutputDuplication()
{
    std::memset(&desc, 0, sizeof(desc));
}

OutputDuplication::~OutputDuplication()
{
    release();
}

void OutputDuplication::releaseGdi()
{
    if (memoryDc)
        DeleteDC(memoryDc);
    if (bitmap)
        DeleteObject(bitmap);
    if (displayDc)
        DeleteDC(displayDc);
    memoryDc = nullptr;
    bitmap = nullptr;
    displayDc = nullptr;
}

void OutputDuplication::release()
{
    view.Reset();
    mipTexture.Reset();
    duplication.Reset();
    context.Reset();
    device.Reset();
    releaseGdi();
}
