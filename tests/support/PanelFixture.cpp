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
