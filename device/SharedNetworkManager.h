#pragma once

class QNetworkAccessManager;

// The process-wide manager for pairing and the update check (20 s transfer time-out).
// Device controllers make their own on their threads.
QNetworkAccessManager* sharedNetworkManager();
