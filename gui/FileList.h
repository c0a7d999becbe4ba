// The main window's file list: a model whose rows own their edit record,
// check state and column texts; a delegate that draws each row by hand; and
// the view that shows them, takes dropped files and paints the background
// picture while the list is empty.
#pragma once

#include <QAbstractTableModel>
#include <QImage>
#include <QStringList>
#include <QStyledItemDelegate>
#include <QTreeView>

#include <memory>
#include <string>
#include <vector>

#include "app/FilesRecord.h"

// Columns of the list, created with the first row and removed with the last.
enum TFileColumn { fcSource, fcLength, fcTrimmedLength, fcDestination, fcProgress, fcCount };

// Where a row stands after the batch runs that took it: not converted yet,
// converting (its job's percentage), done (with the file written) or
// failed (with the reason).
enum TRowState { rsWaiting, rsConverting, rsDone, rsFailed };

struct TRowStatus {
    TRowState State = rsWaiting;
    int Percent = 0;       // rsConverting
    std::string Written;   // rsDone: the output file
    QString Reason;        // rsFailed

    static TRowStatus Converting(int Percent) {
        TRowStatus S;
        S.State = rsConverting;
        S.Percent = Percent;
        return S;
    }
    static TRowStatus Done(std::string Written) {
        TRowStatus S;
        S.State = rsDone;
        S.Written = std::move(Written);
        return S;
    }
    static TRowStatus Failed(QString Reason) {
        TRowStatus S;
        S.State = rsFailed;
        S.Reason = std::move(Reason);
        return S;
    }
};

// The rows of the list. Each row owns its record, its check state, the
// trimmed length the trim dialog chose and its status; data() formats the
// five columns from them, so nothing reads a row's state back from its texts.
class TFilesModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TFilesModel(QObject* Parent = nullptr);
    ~TFilesModel() override;

    static QString ColumnCaption(int Column);
    static int ColumnWidth(int Column);

    int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
    // Display: the column's text. Tooltip: the source's path on the first
    // column, the reason on the "Progress" column of a failed row.
    QVariant data(const QModelIndex& Index, int Role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& Index, const QVariant& Value, int Role = Qt::EditRole) override;
    QVariant headerData(int Section, Qt::Orientation Orientation, int Role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& Index) const override;

    int Count() const { return static_cast<int>(FRows.size()); }
    // Appends a checked, waiting row whose trimmed length is the record's
    // duration. The first row creates the columns. Returns the row's position.
    int AddRow(const TlvFilesRecord& Record);
    // Releases the row and its record; the last row takes the columns with it.
    void RemoveRow(int Row);
    void Clear();

    // The row's record; it stays at the same address while the row lives.
    TlvFilesRecord* Record(int Row) const;
    // The row whose source path equals Path exactly, or -1.
    int FindSource(const std::string& Path) const;
    // The text of a cell as the list shows it; empty outside the list.
    QString Text(int Row, int Column) const;

    // The "Trimmed Length" column, in whole seconds.
    void SetTrimmedLength(int Row, int Seconds);
    int TrimmedLength(int Row) const;
    const TRowStatus& Status(int Row) const;
    void SetStatus(int Row, TRowStatus Status);
    // The "Destination File" column: the record's output name.
    void SetDestination(int Row, const std::string& Output);

    bool Checked(int Row) const;
    void SetChecked(int Row, bool Checked);
    void ToggleChecked(int Row);
    void SetAllChecked(bool Checked);
    void ReverseChecks();

private:
    struct TRow {
        TlvFilesRecord Record;
        bool Checked = true;
        int TrimmedSeconds = 0;
        TRowStatus Status;
    };
    bool ValidRow(int Row) const { return Row >= 0 && Row < Count(); }
    void RowChanged(int Row, int FirstColumn, int LastColumn, const QList<int>& Roles);

    std::vector<std::unique_ptr<TRow>> FRows;
    bool FColumns = false;  // the report style with its five columns
};

class TFilesView;

// Draws a row: the tinted or selected background, the check box with its
// tick, each column's text on one line with an ellipsis, and the selection
// frame. Nothing of the style's own row drawing is used.
class TFilesDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit TFilesDelegate(TFilesView* View);

    // Width at the left of the first column taken by the check box.
    static constexpr int CheckAreaWidth = 16;
    // The Source column's text in Width: the whole path when it fits,
    // otherwise shortened in its folders so that the file name shows; only
    // a file name that alone is too wide is shortened in its middle.
    static QString ElidedSource(const QFontMetrics& Metrics, const QString& Path, int Width);


    void paint(QPainter* Painter, const QStyleOptionViewItem& Option, const QModelIndex& Index) const override;
    QSize sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const override;
    // The view toggles check boxes itself, by the hand-drawn box's area.
    bool editorEvent(QEvent* Event, QAbstractItemModel* Model, const QStyleOptionViewItem& Option,
                     const QModelIndex& Index) override;

private:

    TFilesView* FView;
};

class TFilesView : public QTreeView {
    Q_OBJECT
public:
    explicit TFilesView(QWidget* Parent = nullptr);

    void setModel(QAbstractItemModel* Model) override;
    TFilesModel* FilesModel() const;

    // The row's bounds in viewport coordinates: from the first column's
    // left edge to the last column's right edge.
    QRect RowBounds(const QRect& CellRect) const;
    // Shown at the top left while the list is empty (null: nothing).
    void SetBackgroundPicture(const QImage& Picture);
    const QImage& BackgroundPicture() const { return FBackground; }

    // The text of a cell as drawn at the column's present width.
    QString ShownText(int Row, int Column) const;
    // Rows selected, in list order.
    QList<int> SelectedRows() const;

    // Widths of the five columns. The Source column takes whatever the
    // others leave of the list's width, so it grows with the window; the
    // widths of the others are the user's, kept while the columns come and
    // go with the rows.
    QList<int> ColumnWidths() const;
    void SetColumnWidths(const QList<int>& Widths);

signals:
    // Files dropped on the list, to be added as the Add command adds them.
    void FilesDropped(const QStringList& Paths);

protected:
    void drawRow(QPainter* Painter, const QStyleOptionViewItem& Option, const QModelIndex& Index) const override;
    void paintEvent(QPaintEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    bool event(QEvent* Event) override;
    void focusInEvent(QFocusEvent* Event) override;
    void focusOutEvent(QFocusEvent* Event) override;
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dragMoveEvent(QDragMoveEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;

private:
    // The local files among the URLs, in their order.
    static QStringList LocalFiles(const QList<QUrl>& Urls);
    void ColumnsChanged();
    void SectionResized(int Column, int OldSize, int NewSize);
    // The background picture made for dark themes.
    const QImage& DarkBackground() const;

    QImage FBackground;
    mutable QImage FDarkBackground;
    mutable QColor FDarkGround;
    QList<int> FWidths;
    bool FApplyingWidths = false;
};
