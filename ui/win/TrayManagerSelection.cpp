#include "ui/TrayManagerSelection.h"

// The Windows shell always has a notification area.
struct TrayManagerSelection::Private
{};

TrayManagerSelection::TrayManagerSelection(QObject* parent)
    : QObject(parent)
{}

TrayManagerSelection::~TrayManagerSelection() = default;

bool TrayManagerSelection::hasOwner() const
{
    return true;
}
