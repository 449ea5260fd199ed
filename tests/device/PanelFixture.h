#pragma once

#include "emulator/EmulatedPanel.h"

#include <QString>

#include <memory>

// Emulated panels for tests, each on a fresh loopback address of the test's own range (127.0.<block>.x).
class PanelFixture
{
public:
    explicit PanelFixture(int block)
        : m_block(block)
    {}

    QString nextAddress() { return QStringLiteral("127.0.%1.%2").arg(m_block).arg(++m_last); }

    // Null when the panel could not start (the address is taken); the caller QVERIFYs it.
    std::unique_ptr<EmulatedPanel> start(PanelConfig config = {})
    {
        config.address = nextAddress();
        if (config.id.isEmpty())
            config.id =
                QStringLiteral("test-") + QString(config.address).replace(QLatin1Char('.'), QLatin1Char('-'));
        auto panel = std::make_unique<EmulatedPanel>(config);
        QString error;
        if (!panel->start(&error)) {
            qWarning("panel did not start: %s", qPrintable(error));
            return nullptr;
        }
        return panel;
    }

private:
    int m_block;
    int m_last = 0;
};
