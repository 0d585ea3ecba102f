#pragma once

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <functional>

// Runs `answer` on the next modal window once the event loop that shows it is running.
inline void answerNextModal(std::function<void(QWidget *)> answer)
{
    QTimer::singleShot(0, [answer] {
        QTRY_VERIFY(QApplication::activeModalWidget());
        answer(QApplication::activeModalWidget());
    });
}
