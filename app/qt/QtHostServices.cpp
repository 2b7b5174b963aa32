#include "app/qt/QtHostServices.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QWidget>

QStringList QtNameFilters(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split('|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts[i + 1];
        pattern.replace(';', ' ');
        filters << parts[i] + " (" + pattern + ")";
    }
    return filters;
}

bool TQtHostServices::ExecuteOpenDialog(TOpenDialog& dialog) {
    QFileDialog box(QApplication::activeWindow(), QString::fromStdString(dialog.Title));
    // The same widget on every desktop, and one that takes names that do not exist.
    box.setOption(QFileDialog::DontUseNativeDialog);
    box.setAcceptMode(QFileDialog::AcceptOpen);
    box.setFileMode(QFileDialog::AnyFile);
    box.setDefaultSuffix(QString::fromStdString(dialog.DefaultExt));
    const QStringList filters = QtNameFilters(dialog.Filter);
    box.setNameFilters(filters);
    if (dialog.FilterIndex >= 1 && dialog.FilterIndex <= filters.size())
        box.selectNameFilter(filters[dialog.FilterIndex - 1]);
    const std::string initial = Prefix().ToHostPath(dialog.InitialDir);
    if (!initial.empty()) box.setDirectory(QString::fromStdString(initial));
    if (!dialog.FileName.empty()) {
        const std::string previous = Prefix().ToHostPath(dialog.FileName);
        if (!previous.empty()) box.selectFile(QString::fromStdString(previous));
    }
    if (box.exec() != QDialog::Accepted || box.selectedFiles().isEmpty()) return false;
    dialog.FileName = Prefix().ToWindowsPath(box.selectedFiles().first().toStdString());
    const auto index = filters.indexOf(box.selectedNameFilter());
    if (index >= 0) dialog.FilterIndex = static_cast<int>(index) + 1;
    return true;
}

int TQtHostServices::ShowMessageBox(const std::string& text, const std::string& caption,
                                    std::uint32_t flags) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (flags & mbIconMask) {
    case mbIconStop:
        icon = QMessageBox::Critical;
        break;
    case mbIconQuestion:
        icon = QMessageBox::Question;
        break;
    case mbIconExclamation:
        icon = QMessageBox::Warning;
        break;
    case mbIconInformation:
        icon = QMessageBox::Information;
        break;
    default:
        break;
    }
    QMessageBox box(icon, QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
    return 1; // the OK button
}

void TQtHostServices::CancelMode() {
    if (QWidget* grabber = QWidget::mouseGrabber()) grabber->releaseMouse();
}
