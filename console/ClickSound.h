#pragma once

#include <QObject>
#include <QString>

class QSoundEffect;

// The key click of the image buttons: a short WAV played in the background.
class ClickSound : public QObject
{
    Q_OBJECT

public:
    explicit ClickSound(QObject *parent = nullptr);

    // Starts `wavPath` playing and returns at once. Silence, and no message, when the file is
    // missing or unplayable or the machine has no audio output.
    void play(const QString &wavPath);

    // The file last handed to the player; empty while none was.
    QString source() const;

private:
    QSoundEffect *effect;
};
