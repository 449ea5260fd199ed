#include "support/PanelFixture.h"

PanelFixture::PanelFixture(int block)
    : m_block(block)
{}

QString PanelFixture::nextAddress()
{
    return QStringLiteral("127.0.%1.%2").arg(m_block).arg(++m_last);
}

std::unique_ptr<EmulatedPanel> PanelFixture::start(PanelConfig config)
{
    // Another suite running at the same time may hold an address of this block: move on to the next.
    const bool ownId = config.id.isEmpty();
    QString error;
    for (int attempt = 0; attempt < 20; ++attempt) {
        config.address = nextAddress();
        if (ownId)
            config.id =
                QStringLiteral("test-") + QString(config.address).replace(QLatin1Char('.'), QLatin1Char('-'));
        auto panel = std::make_unique<EmulatedPanel>(config);
        if (panel->start(&error))
            return panel;
    }
    qWarning("panel did not start: %s", qPrintable(error));
    return nullptr;
}
