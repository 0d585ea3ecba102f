#pragma once

class QCoreApplication;

// Makes Qt's own texts (the message boxes' buttons, the standard dialogs) Brazilian Portuguese,
// as every other text the station shows, whatever the system's language. False, and Qt keeps
// its English texts, when Qt's translations are not installed.
bool installQtTranslations(QCoreApplication &app);
