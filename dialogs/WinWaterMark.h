// The watermark dialog: a text, an image and a watermark image with their
// options. It is laid out in full but nothing entered here is used yet.
#pragma once

#include <QDialog>
#include <string>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

class TfrmWaterMark : public QDialog {
    Q_OBJECT
public:
    static constexpr int ShownWidth = 480;
    static constexpr int ShownHeight = 420;

    explicit TfrmWaterMark(QWidget* Parent = nullptr);

    // The selected row's source file; empty when the list has no rows.
    void SetSourceFile(const std::string& SourceFile);
    const std::string& SourceFile() const { return FSourceFile; }

    QLabel* lblSourceName = nullptr;
    QLineEdit* edtAddText = nullptr;
    QLineEdit* edtPosX = nullptr;
    QLineEdit* edtPosY = nullptr;
    QPushButton* btnBrows1 = nullptr;
    QPushButton* btnDefault = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

protected:
    void showEvent(QShowEvent* Event) override;

private:
    static constexpr int SourceLabelWidth = 330;

    void FormShow();
    void btnCancelClick();
    void btnBrows1Click();

    QCheckBox* ckTextScrol2 = nullptr;  // "Add Text:"
    QGroupBox* grpAddText = nullptr;
    QCheckBox* ckTextScrol1 = nullptr;  // "Text Scrolling"
    QCheckBox* ckTextScrol3 = nullptr;  // "Add Image:"
    QGroupBox* grpAddImage = nullptr;
    QLineEdit* edtAddImage = nullptr;
    QPushButton* btnBrows = nullptr;
    QCheckBox* ckTextScrol5 = nullptr;  // "Image dancing"
    QCheckBox* ckTextScrol4 = nullptr;  // "Add Water Mark Image:"
    QGroupBox* grpAddWatermark = nullptr;
    QLineEdit* edtAddWatermark = nullptr;
    QToolButton* imgbtnText = nullptr;
    QToolButton* imgbtnImage = nullptr;
    QToolButton* imgbtnWatermark = nullptr;

    std::string FSourceFile;
};
