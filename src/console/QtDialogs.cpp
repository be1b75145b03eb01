#include "console/QtDialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {

QMessageBox::Icon BoxIcon(veltra::MessageIcon icon) {
    switch (icon) {
        case veltra::MessageIcon::Warning: return QMessageBox::Warning;
        case veltra::MessageIcon::Critical: return QMessageBox::Critical;
        case veltra::MessageIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

void QtDialogs::Message(QWidget* parent, const veltra::Message& message) {
    // Boxes carry no caption of their own: an empty title unless one is given.
    QMessageBox box(BoxIcon(message.icon), QString::fromStdString(message.caption),
                    QString::fromStdString(message.text), QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool QtDialogs::RetryCancel(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, QString(), text,
                    QMessageBox::Retry | QMessageBox::Cancel, parent);
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Retry;
}

QString QtDialogs::OpenFileName(QWidget* parent, const QString& title, const QString& filter) {
    return QFileDialog::getOpenFileName(parent, title, QString(), filter);
}
