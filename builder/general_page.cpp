#include "builder/general_page.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "builder/builder_messages.h"
#include "builder/dir_dialog.h"
#include "builder/edit_model.h"
#include "builder/schema_file_loader.h"
#include "builder/schema_save.h"
#include "builder/user_dialogs.h"
#include "server/config/configuration.h"
#include "server/startup.h"

namespace morvane {

CGeneral::CGeneral(CEditModel& model, CUserDialogs& dialogs, QWidget* parent)
    : CBuilderPage(tr("General"), model, dialogs, parent) {
    directory_ = new QLineEdit(this);
    directory_->setObjectName("directory");
    browse_ = new QPushButton(tr("&Browse"), this);
    help_ = new QPushButton(tr("&Help"), this);
    files_ = new QListWidget(this);
    files_->setObjectName("xsdFiles");
    loaded_ = new QListWidget(this);
    loaded_->setObjectName("loadedFiles");
    newSchema_ = new QPushButton(tr("&New Schema"), this);
    for (QPushButton* b : {browse_, help_, newSchema_}) b->setAutoDefault(false);

    auto* directoryLabel = new QLabel(tr("&Directory:"), this);
    directoryLabel->setBuddy(directory_);
    auto* filesLabel = new QLabel(tr("&Xsd files List:"), this);
    filesLabel->setBuddy(files_);
    auto* loadedLabel = new QLabel(tr("&Loaded Xsd files:"), this);
    loadedLabel->setBuddy(loaded_);

    auto* grid = new QGridLayout(this);
    auto* directoryRow = new QHBoxLayout;
    directoryRow->addWidget(directoryLabel);
    directoryRow->addWidget(directory_, 1);
    directoryRow->addWidget(browse_);
    directoryRow->addWidget(help_);
    grid->addLayout(directoryRow, 0, 0, 1, 2);
    grid->addWidget(filesLabel, 1, 0);
    grid->addWidget(loadedLabel, 1, 1);
    grid->addWidget(files_, 2, 0);
    grid->addWidget(loaded_, 2, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(newSchema_);
    bottom->addStretch(1);
    grid->addLayout(bottom, 3, 0, 1, 2);
    grid->setColumnStretch(0, 2);
    grid->setColumnStretch(1, 3);
    grid->setRowStretch(2, 1);

    QWidget* order[] = {directory_, browse_, help_, files_, loaded_, newSchema_};
    for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

    connect(browse_, &QPushButton::clicked, this, &CGeneral::Browse);
    connect(help_, &QPushButton::clicked, this, [this] { dialogs_.About(); });
    connect(newSchema_, &QPushButton::clicked, this, &CGeneral::NewSchema);
    connect(files_, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { LoadFileAt(files_->row(item)); });
    // Installed after the page's key swallower, so it sees Enter first.
    files_->installEventFilter(this);
}

bool CGeneral::eventFilter(QObject* watched, QEvent* event) {
    if (watched == files_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            LoadFileAt(files_->currentRow());
            return true;
        }
    }
    return CBuilderPage::eventFilter(watched, event);
}

void CGeneral::OnInitialise() {
    directory_->setText(QString::fromUtf8(model_.workingDirectory.c_str()));
    loadedPaths_.clear();
    ShowLoadedPaths();
    newSchema_->setEnabled(false);  // the file list follows in OnActivate()
}

void CGeneral::OnActivate() { RefreshFileList(); }

void CGeneral::RefreshFileList() {
    files_->clear();
    // The working directory, which the Directory field shows unless the
    // user typed into it: typed text chooses nothing.
    for (const std::string& name : ListSchemaFiles(model_.workingDirectory.str()))
        files_->addItem(QString::fromStdString(name));
}

void CGeneral::ShowLoadedPaths() {
    loaded_->clear();
    for (const std::string& path : loadedPaths_) loaded_->addItem(QString::fromStdString(path));
}

void CGeneral::LoadFileAt(int row) {
    const QListWidgetItem* item = files_->item(row);
    if (item == nullptr) return;
    // A file loaded into a model without unsaved edits leaves none: it is
    // all on disk.
    const bool unsaved = model_.HasUnsavedEdits();
    LoadResult result = LoadSelectedFile(model_, loadedPaths_, item->text().toStdString());
    if (!unsaved) model_.MarkSaved();
    ShowLoadedPaths();
    if (result.outcome == LoadOutcome::kLoaded) newSchema_->setEnabled(true);
    if (!result.message.empty()) dialogs_.Message(result.message);
}

void CGeneral::Browse() {
    CDirDialog chooser;
    chooser.title = "Select Directory:";
    // Anywhere in the home (the program directory unless --home names
    // another), the Schemas directory and its parents included; the
    // browser opens on the working directory.
    const Configuration* config = model_.configuration();
    chooser.rootDirectory = model_.workingDirectory.str();
    if (config != nullptr && !config->homeDirectory.empty())
        chooser.rootDirectory = config->homeDirectory;
    else if (config != nullptr && !config->programDirectory.empty())
        chooser.rootDirectory = config->programDirectory;
    chooser.initialDirectory = model_.workingDirectory.str();
    if (!chooser.Browse(dialogs_)) {
        if (!chooser.error.empty()) dialogs_.Message(chooser.error);
        return;
    }
    directory_->setText(QString::fromStdString(chooser.path));
    model_.workingDirectory.Assign(chooser.path);  // fits: Browse checked its length
    RefreshFileList();
}

void CGeneral::NewSchema() {
    if (model_.HasUnsavedEdits()) {
        switch (dialogs_.AskYesNoCancel(msg::kSaveQuestion)) {
            case CUserDialogs::Answer::kYes: {
                const CEditSchema* s = model_.CurrentSchema();
                if (SaveSchema(model_, s ? s->name.view() : "", s ? s->id.view() : "", dialogs_) !=
                    SaveOutcome::kSaved)
                    return;
                break;
            }
            case CUserDialogs::Answer::kNo:
                break;
            default:
                return;
        }
    }
    model_.Clear();
    model_.MarkSaved();
    RefreshFileList();  // the save may have added a file
    loadedPaths_.clear();
    ShowLoadedPaths();
    newSchema_->setEnabled(false);
}

}  // namespace morvane
