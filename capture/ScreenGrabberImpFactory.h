#pragma once

class ScreenGrabberImp;
class SettingsManager;

// The capture back end of this platform and session. Settings, when given, keep what a back end must
// remember between runs (the screen-cast portal's restore token).
ScreenGrabberImp* createScreenGrabberImp(SettingsManager* settings = nullptr);
