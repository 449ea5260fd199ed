#pragma once

class ScreenGrabberImp;

// The capture back end of this platform and session.
ScreenGrabberImp* createScreenGrabberImp();
