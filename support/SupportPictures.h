// The support dialogs' own artwork, drawn at run time.
#pragma once

#include <QPixmap>

QPixmap QuestionPicture();     // a question mark in a speech bubble, 42 x 38
QPixmap InformationPicture();  // a letter "i" in a speech bubble, 37 x 37
QPixmap ProgramIconPicture();  // the program's icon, 32 x 32 (the application's icon when it has one)
