#include "builder/general_page.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "builder/builder_messages.h"
#include "builder/dir_dialog.h"
#include "builder/edit_model.h"
#include "builder/schema_file_loader.h"
#include "builder/user_dialogs.h"
#include "server/startup.h"

namespace morvane {

CGeneral::CGeneral(CEditModel& model, CUserDialogs& dialogs, QWidget* parent)
    : CBuilderPage(tr("General"), model, dialogs, parent) {
    directory_ = new QLineEdit(this);
    directory_->setObjectName("directory");
    browse_ = new QPushButton(tr("Browse"), this);
    help_ = new QPushButton(tr("Help"), this);
    files_ = new QListWidget(this);
    files_->setObjectName("xsdFiles");
    loaded_ = new QListWidget(this);
    loaded_->setObjectName("loadedFiles");
    newSchema_ = new QPushButton(tr("New Schema"), this);
    for (QPushButton* b : {browse_, help_, newSchema_}) b->setAutoDefault(false);

    auto* directoryLabel = new QLabel(tr("Directory:"), this);
    directoryLabel->setBuddy(directory_);
    auto* filesLabel = new QLabel(tr("Xsd files List:"), this);
    filesLabel->setBuddy(files_);
    auto* loadedLabel = new QLabel(tr("Loaded Xsd files:"), this);
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
}

void CGeneral::OnInitialise() {
    directory_->setText(QString::fromUtf8(model_.workingDirectory.c_str()));
    loadedPaths_.clear();
    ShowLoadedPaths();
    RefreshFileList();
    newSchema_->setEnabled(false);
}

void CGeneral::RefreshFileList() {
    files_->clear();
    for (const std::string& name : ListSchemaFiles(directory_->text().toStdString()))
        files_->addItem(QString::fromStdString(name));
}

void CGeneral::ShowLoadedPaths() {
    loaded_->clear();
    for (const std::string& path : loadedPaths_) loaded_->addItem(QString::fromStdString(path));
}

void CGeneral::LoadFileAt(int row) {
    const QListWidgetItem* item = files_->item(row);
    if (item == nullptr) return;
    LoadResult result = LoadSelectedFile(model_, loadedPaths_, item->text().toStdString());
    ShowLoadedPaths();
    if (result.outcome == LoadOutcome::kLoaded) newSchema_->setEnabled(true);
    if (!result.message.empty()) dialogs_.Message(result.message);
}

void CGeneral::Browse() {
    CDirDialog chooser;
    chooser.title = "Select Directory:";
    chooser.rootDirectory = model_.workingDirectory.str();
    if (!chooser.Browse(dialogs_)) {
        if (!chooser.error.empty()) dialogs_.Message(chooser.error);
        return;
    }
    directory_->setText(QString::fromStdString(chooser.path));
    model_.workingDirectory.Assign(chooser.path);  // fits: Browse checked its length
    RefreshFileList();
}

void CGeneral::NewSchema() {
    model_.Clear();
    loadedPaths_.clear();
    ShowLoadedPaths();
    newSchema_->setEnabled(false);
}

}  // namespace morvane
