#pragma once

#include <QPointer>
#include <QSharedPointer>
#include <QVariantMap>

class AbstractColorProvider;
class ColorInterpolation;
class EffectGenerator;
class GrabManager;
class ScreenMapColorProvider;

// A device's screen-mirror choices, read from its "screen_mirror" settings map.
struct ScreenMirrorSettings
{
    int monitor = 0;
    int mode = 0;
    int location = 0;
    int seasoning = 2;
    int colorMode = 0;

    static ScreenMirrorSettings fromMap(const QVariantMap& screenMirror);
    bool operator==(const ScreenMirrorSettings& o) const
    {
        return monitor == o.monitor && mode == o.mode && location == o.location && seasoning == o.seasoning &&
               colorMode == o.colorMode;
    }
};

// What one device mirrors: the generator, and in "Dominant Season" the colour source with its smoothing.
// Every processor it creates is registered with the grab manager while it is part of the pipeline and
// removed when the pipeline is rebuilt or torn down. Built and torn down on the GUI thread.
class ScreenMirrorPipeline
{
public:
    explicit ScreenMirrorPipeline(GrabManager* grabManager);
    ~ScreenMirrorPipeline();
    ScreenMirrorPipeline(const ScreenMirrorPipeline&) = delete;
    ScreenMirrorPipeline& operator=(const ScreenMirrorPipeline&) = delete;

    // Replaces everything with a fresh pipeline for these choices; an unknown mode leaves no generator.
    void rebuild(const ScreenMirrorSettings& settings);
    void tearDown();
    // True while it holds what rebuild(settings) would build, so a refresh with unchanged choices can keep
    // it.
    bool isBuiltFor(const ScreenMirrorSettings& settings) const { return m_built && m_settings == settings; }

    QSharedPointer<EffectGenerator> generator() const { return m_generator; }
    QSharedPointer<ColorInterpolation> interpolation() const { return m_interpolation; }
    QSharedPointer<ScreenMapColorProvider> colorSource() const { return m_colorSource; }

private:
    void releaseColorSource();
    void releaseGenerator();

    QPointer<GrabManager> m_grabManager;
    bool m_built = false;
    ScreenMirrorSettings m_settings;
    QSharedPointer<EffectGenerator> m_generator;
    QSharedPointer<ColorInterpolation> m_interpolation;
    QSharedPointer<ScreenMapColorProvider> m_colorSource;
};
