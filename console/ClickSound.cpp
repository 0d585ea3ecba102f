#include "ClickSound.h"

#include <QAudioDevice>
#include <QFileInfo>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

ClickSound::ClickSound(QObject *parent)
    : QObject(parent)
    , effect(new QSoundEffect(this))
{
    // The audio stack is reached now, with the window, so that the first click does not wait
    // for it.
    QMediaDevices::defaultAudioOutput();
}

void ClickSound::play(const QString &wavPath)
{
    // Checked on every click: the folder may be removed or restored while the station runs.
    if (!QFileInfo(wavPath).isFile())
        return;
    const QUrl url = QUrl::fromLocalFile(wavPath);
    if (effect->source() != url)
        effect->setSource(url); // decoded in the background; play() waits for it
    // Without an output the player would only log that it found none, on every click.
    if (QMediaDevices::defaultAudioOutput().isNull())
        return;
    effect->play();
}

QString ClickSound::source() const
{
    return effect->source().toLocalFile();
}
