#include "effects/ScreenMirrorPipeline.h"

#include "capture/FrameProccessorScaledFrame.h"
#include "capture/FrameProcessorAvgRects.h"
#include "capture/GrabManager.h"
#include "effects/ColorInterpolation.h"
#include "effects/EffectGeneratorFadingPixel.h"
#include "effects/EffectScaledImageWithBlur.h"
#include "effects/ScreenMapColorProvider.h"
#include "effects/ScreenMirrorModes.h"

namespace {
// Device threads read these until their own reference goes, so they die later on their own thread and
// never with a widget.
template <typename T> QSharedPointer<T> makeShared(T* object)
{
    return QSharedPointer<T>(object, &QObject::deleteLater);
}

QSharedPointer<FrameProcessorBase> scaledProcessorOf(const QSharedPointer<EffectGenerator>& generator)
{
    if (auto* blur = qobject_cast<EffectScaledImageWithBlur*>(generator.data()))
        return blur->processor();
    return {};
}
} // namespace

ScreenMirrorSettings ScreenMirrorSettings::fromMap(const QVariantMap& screenMirror)
{
    ScreenMirrorSettings s;
    s.monitor = screenMirror.value(QStringLiteral("monitor_idx"), 0).toInt();
    s.mode = screenMirror.value(QStringLiteral("effect_mode"), 0).toInt();
    s.location = screenMirror.value(QStringLiteral("device_location"), 0).toInt();
    s.seasoning = screenMirror.value(QStringLiteral("effect_type"), 2).toInt();
    s.colorMode = screenMirror.value(QStringLiteral("color_mode"), 0).toInt();
    return s;
}

ScreenMirrorPipeline::ScreenMirrorPipeline(GrabManager* grabManager)
    : m_grabManager(grabManager)
{}

ScreenMirrorPipeline::~ScreenMirrorPipeline()
{
    tearDown();
}

void ScreenMirrorPipeline::rebuild(const ScreenMirrorSettings& s)
{
    QSharedPointer<ScreenMapColorProvider> source;
    if (s.mode == DominantSeason) {
        source = makeShared(new ScreenMapColorProvider());
        source->setValueCurve(colorModeCurve(s.colorMode, QEasingCurve(QEasingCurve::Linear)));
        source->processor()->setRects({QRectF(0, 0, 1, 1)});
        // The worker may read it from the moment it is handed over.
        source->processor()->setScreenIndex(s.monitor);
        if (m_grabManager)
            m_grabManager->addFrameProcessor(source->processor());
    }
    releaseColorSource();
    m_colorSource = source;
    if (m_colorSource)
        m_interpolation = makeShared(new ColorInterpolation(m_colorSource));

    releaseGenerator();
    if (s.mode == ScreenSeason || s.mode == ContinueScreen) {
        auto* blur = new EffectScaledImageWithBlur();
        const auto processor = blur->processor();
        processor->setScreenIndex(s.monitor);
        blur->setSeasoningEnabled(false);
        blur->setValueCurve(colorModeCurve(s.colorMode, QEasingCurve(QEasingCurve::OutCirc)));
        if (s.mode == ContinueScreen)
            processor->setCropRect(deviceLocationCrop(s.location));
        m_generator = makeShared<EffectGenerator>(blur);
        if (m_grabManager)
            m_grabManager->addFrameProcessor(processor);
    } else if (s.mode == DominantSeason) {
        auto* bands = new EffectGeneratorFadingPixel();
        bands->setColorProvider(m_interpolation);
        bands->setShowFadingPixels(false);
        m_generator = makeShared<EffectGenerator>(bands);
    }
    m_built = true;
    m_settings = s;
}

void ScreenMirrorPipeline::tearDown()
{
    m_built = false;
    releaseColorSource();
    releaseGenerator();
}

void ScreenMirrorPipeline::releaseColorSource()
{
    if (m_colorSource && m_grabManager)
        m_grabManager->removeFrameProcessor(m_colorSource->processor());
    m_colorSource.reset();
    m_interpolation.reset();
}

void ScreenMirrorPipeline::releaseGenerator()
{
    const auto processor = scaledProcessorOf(m_generator);
    if (processor && m_grabManager)
        m_grabManager->removeFrameProcessor(processor);
    m_generator.reset();
}
