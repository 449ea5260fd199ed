#pragma once

#include <QColor>
#include <QList>
#include <QString>
#include <QStringList>

struct ChromaBroadcastMessage;

// The sending end of the broadcast channel: what a Chroma application would publish.
class ChromaPublisher
{
public:
    ChromaPublisher() = default;
    ~ChromaPublisher();
    ChromaPublisher(const ChromaPublisher&) = delete;
    ChromaPublisher& operator=(const ChromaPublisher&) = delete;

    // Connects to the channel; refuses a listener run by another user.
    bool connectTo(const QString& socketPath, QString* error);
    bool sendColors(const QList<QColor>& colors);
    bool setLive(bool live);
    bool send(const ChromaBroadcastMessage& message);

    // The animated effect: a rainbow that travels across the five positions, one step per frame.
    static QList<QColor> effectFrame(int step);
    bool playEffect(int durationMs, int frameMs);

    // The command line of the chroma-publisher tool; returns the exit status.
    static int run(const QStringList& arguments);

private:
    int m_fd = -1;
};
