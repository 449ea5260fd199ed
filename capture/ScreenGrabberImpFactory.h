#pragma once

class ScreenGrabberImp;

// The capture back end of this platform.
ScreenGrabberImp* createScreenGrabberImp();
