// CGeneral: the "General" page. Chooses the working directory (any
// directory of the program directory), lists its schema files and loads
// them into the edit model; "New Schema" empties the model, once unsaved
// edits are saved or given up, and "Help" opens the About box.
#pragma once

#include <string>
#include <vector>

#include "builder/builder_page.h"

class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace morvane {

class CGeneral : public CBuilderPage {
    Q_OBJECT

  public:
    CGeneral(CEditModel& model, CUserDialogs& dialogs, QWidget* parent = nullptr);

    QLineEdit* DirectoryEdit() const { return directory_; }
    QPushButton* BrowseButton() const { return browse_; }
    QPushButton* HelpButton() const { return help_; }
    QListWidget* FileList() const { return files_; }
    QListWidget* LoadedList() const { return loaded_; }
    QPushButton* NewSchemaButton() const { return newSchema_; }

    // Loads the entry at row of "Xsd files List:", as a double click on it
    // does.
    void LoadFileAt(int row);

  protected:
    void OnInitialise() override;
    // Lists the working directory again: a save may have added a file.
    void OnActivate() override;
    // Enter in "Xsd files List:" loads the selected file.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void RefreshFileList();
    void ShowLoadedPaths();
    void Browse();
    void NewSchema();

    QLineEdit* directory_;
    QPushButton* browse_;
    QPushButton* help_;
    QListWidget* files_;
    QListWidget* loaded_;
    QPushButton* newSchema_;
    std::vector<std::string> loadedPaths_;
};

}  // namespace morvane
