#include "core/TerminationSignals.h"

// A Windows logout or shutdown reaches the application as session messages that Qt answers itself.
TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent)
{}

TerminationSignals::~TerminationSignals() = default;

bool TerminationSignals::install()
{
    return true;
}

void TerminationSignals::readPending() {}
