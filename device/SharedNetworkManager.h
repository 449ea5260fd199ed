#pragma once

class QNetworkAccessManager;

// The process-wide manager for pairing and the update check (20 s transfer time-out), made on first
// use: making one loads Qt's network bearer plugins, which ask the system bus about the network, and
// nothing needs it before the window shows. Device controllers make their own on their threads.
QNetworkAccessManager* sharedNetworkManager();
