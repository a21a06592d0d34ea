// The salvo editor, and the dialogs that save and delete salvo files.
#pragma once

#include "salvofiles.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableWidget;

namespace exel {

class XelForm;

// frmPreSv: choose or type a salvo name and save the editor's salvo under it.
class frmPreSv : public QDialog {
    Q_OBJECT
public:
    frmPreSv(const QString &folder, const SalvoTable &table, const StatandConfig &model, Dialogs &dialogs,
        QWidget *parent = nullptr);
    QListWidget *lstPreset;
    QLineEdit *txtPreset;
    QPushButton *cmdOK;
    QPushButton *cmdCancel;
    QString savedName() const { return m_saved; }

private:
    QString m_saved;
};

// frmPredl: delete stored salvos.
class frmPredl : public QDialog {
    Q_OBJECT
public:
    frmPredl(const QString &folder, Dialogs &dialogs, QWidget *parent = nullptr);
    QListWidget *lstPreset;
    QPushButton *cmdDelete;
    QPushButton *cmdOK;

private:
    void fill();
    QString m_folder;
};

class frmPreset : public QDialog {
    Q_OBJECT
public:
    explicit frmPreset(XelForm &main);

    // Rebuilds the grid and the lists for the loaded system and name set.
    void refreshSystem();
    // Refills listSource and listDestination from the name set shown.
    void refreshLists();

    // The salvo being edited, in the salvo file layout.
    const SalvoTable &getPresetInfo() const { return m_table; }

    void loadPreset(const QString &name);
    void ClearAllPreset();
    void ClearSelectedPreset();
    void StatusPreset();
    void TakeAllPreset_Click();
    void TakeSelectedPreset_Click();
    void fillSelected(int source);
    void savePreset();
    void deletePreset();

    QTableWidget *grdPreset;
    QListWidget *listSource;
    QListWidget *listDestination;
    QComboBox *PresetFileList;

private:
    void paintGrid();
    void refreshFileList();
    XelForm &m_main;
    SalvoTable m_table;
    QLabel *m_hint;
};

} // namespace exel
