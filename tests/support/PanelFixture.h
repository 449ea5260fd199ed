#pragma once

#include "emulator/EmulatedPanel.h"

#include <QString>

#include <memory>

// Emulated panels for tests, each on a fresh loopback address of the test's own range (127.0.<block>.x).
class PanelFixture
{
public:
    explicit PanelFixture(int block);

    QString nextAddress();
    // Null when no address of the block could be had; the caller QVERIFYs it.
    std::unique_ptr<EmulatedPanel> start(PanelConfig config = {});

private:
    int m_block;
    int m_last = 0;
};
