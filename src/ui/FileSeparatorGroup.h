#pragma once

#include <QGroupBox>

class QLineEdit;
class QRadioButton;

namespace tarvo {
class DataFiles;
}

namespace tarvo::ui {

// "File Separator": Comma and Semicolon fill the edit and lock it; Other unlocks it.
class FileSeparatorGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit FileSeparatorGroup(DataFiles& files, QWidget* parent = nullptr);
    void sync();

private:
    DataFiles& files_;
    QRadioButton* comma_;
    QRadioButton* semicolon_;
    QRadioButton* other_;
    QLineEdit* edit_;
};

} // namespace tarvo::ui
