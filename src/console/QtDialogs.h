#pragma once
// The real dialogs: message boxes and the platform's file-open dialog.
#include "console/DialogSeam.h"

class QtDialogs final : public DialogSeam {
public:
    void Message(QWidget* parent, const veltra::Message& message) override;
    bool RetryCancel(QWidget* parent, const QString& text) override;
    QString OpenFileName(QWidget* parent, const QString& title, const QString& filter) override;
};
