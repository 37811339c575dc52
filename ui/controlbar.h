#pragma once

#include <QWidget>

#include <string>

class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;

// The operator's controls along the bottom of the window, placed as the dialog template places
// them (port list, baud list, Open/Close, path box, Load, DOWN, progress bar, Clear).
class CControlBar : public QWidget {
    Q_OBJECT
public:
    explicit CControlBar(QWidget* pParent = nullptr);

    // The text of the selected list item, "" when none is selected. Text typed into the edit
    // field counts only when it names an item exactly, which then is the selection.
    static std::string SelectedItemText(QComboBox* pCombo);
    // Selects the first item that begins with strPrefix (case-insensitive); false if none does.
    static bool SelectString(QComboBox* pCombo, const QString& strPrefix);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    QComboBox* m_pComPort;
    QComboBox* m_pBaudRate;
    QPushButton* m_pOpenClose;
    QLineEdit* m_pFilePath;
    QPushButton* m_pLoad;
    QPushButton* m_pDown;
    QProgressBar* m_pProgress;
    QPushButton* m_pClear;

private:
    QSize m_szTemplate;
};
