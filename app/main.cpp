// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/linkscope.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    LinkScope window;
    window.show();
    return app.exec();
}
