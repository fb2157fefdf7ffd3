#pragma once
// Dialog template 3: asks whether a shared file that no program counts any
// more is deleted. Shows the file's name and folder, centred over its owner.

#include <QDialog>
#include <filesystem>

#include "uninstaller/RemovalView.h"

namespace plx::uninst {

class QuestionDialog : public QDialog {
    Q_OBJECT
public:
    QuestionDialog(const std::filesystem::path& file, QWidget* owner);
    // Shows the dialog until a button is pressed; closing it answers no.
    SharedFileAnswer ask();

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace plx::uninst
