// Program entry on Linux: the Qt window over the Wine prefix's registry and files.

#include "app/qt/MainWindow.h"
#include "app/qt/QtHostServices.h"
#include "app/uFrmVYKPatch.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    TQtHostServices host(TWinePrefix::DefaultRoot(),
                         QCoreApplication::applicationFilePath().toStdString());
    QCoreApplication::setApplicationName(QString::fromStdString(host.ApplicationTitle()));
    TForm1 form(host, DownloadToStream);
    TMainWindow window(form, host);
    window.show();
    QApplication::exec();
    return 0;
}
