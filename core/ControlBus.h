#pragma once

#include <QList>
#include <QVariantMap>

// Where the running instance offers its controls on the session bus, and what its answers are made of.
namespace ControlBus {
// The desktop entry's id, so that the name says whose it is.
inline const char* const kService = "com.pivotrix_entertainment.PivotrixEntertainment";
inline const char* const kPath = "/";
inline const char* const kInterface = "com.pivotrix_entertainment.PivotrixEntertainment1";
inline const char* const kUnknownDevice =
    "com.pivotrix_entertainment.PivotrixEntertainment1.Error.UnknownDevice";
inline const char* const kInvalidArgument =
    "com.pivotrix_entertainment.PivotrixEntertainment1.Error.InvalidArgument";

// One a{sv} per paired device: "id", "name", "address", "online", "streaming", "source", "mirror_mode",
// "color_mode".
using DeviceStates = QList<QVariantMap>;

// The words scripts use for the mirror's modes and colour modes, indexed by the stored value.
inline const char* const kMirrorModes[] = {"screen", "dominant", "continue"};
inline const char* const kColorModes[] = {"boosted", "natural"};

// Marshalling of DeviceStates; once per process, before the first call or export.
void registerTypes();
} // namespace ControlBus
