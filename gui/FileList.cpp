#include "gui/FileList.h"
#include "gui/AddFiles.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

#include <algorithm>
#include <cstdlib>

#include "common/Files.h"
#include "widgets/Theme.h"

// The model.

TFilesModel::TFilesModel(QObject* Parent) : QAbstractTableModel(Parent) {}

TFilesModel::~TFilesModel() = default;

QString TFilesModel::ColumnCaption(int Column) {
    static const char* const Captions[fcCount] = {"Source", "Length", "Trimmed Length", "Destination File",
                                                  "Progress"};
    return Column >= 0 && Column < fcCount ? QString::fromLatin1(Captions[Column]) : QString();
}

int TFilesModel::ColumnWidth(int Column) {
    static const int Widths[fcCount] = {140, 70, 90, 120, 60};
    return Column >= 0 && Column < fcCount ? Widths[Column] : 0;
}

int TFilesModel::rowCount(const QModelIndex& Parent) const { return Parent.isValid() ? 0 : Count(); }

int TFilesModel::columnCount(const QModelIndex& Parent) const {
    return Parent.isValid() || !FColumns ? 0 : fcCount;
}

QVariant TFilesModel::data(const QModelIndex& Index, int Role) const {
    if (!Index.isValid() || !ValidRow(Index.row()) || Index.column() < 0 || Index.column() >= fcCount) return {};
    const TRow& R = *FRows[static_cast<size_t>(Index.row())];
    switch (Role) {
        case Qt::DisplayRole: return Text(Index.row(), Index.column());
        case Qt::ToolTipRole:
            if (Index.column() == fcSource) return QString::fromStdString(R.Record.SourceFile);
            if (Index.column() == fcProgress && R.Status.State == rsFailed) return R.Status.Reason;
            return {};
        case Qt::CheckStateRole:
            return Index.column() == fcSource ? QVariant(R.Checked ? Qt::Checked : Qt::Unchecked) : QVariant();
        case Qt::TextAlignmentRole: return QVariant(int(Qt::AlignLeft | Qt::AlignVCenter));
        default: return {};
    }
}

bool TFilesModel::setData(const QModelIndex& Index, const QVariant& Value, int Role) {
    if (!Index.isValid() || !ValidRow(Index.row()) || Role != Qt::CheckStateRole || Index.column() != fcSource)
        return false;
    SetChecked(Index.row(), Value.toInt() == Qt::Checked);
    return true;
}

QVariant TFilesModel::headerData(int Section, Qt::Orientation Orientation, int Role) const {
    if (Orientation != Qt::Horizontal || !FColumns) return {};
    if (Role == Qt::DisplayRole) return ColumnCaption(Section);
    if (Role == Qt::TextAlignmentRole) return QVariant(int(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

Qt::ItemFlags TFilesModel::flags(const QModelIndex& Index) const {
    if (!Index.isValid()) return Qt::ItemIsDropEnabled;
    Qt::ItemFlags F = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (Index.column() == fcSource) F |= Qt::ItemIsUserCheckable;
    return F;
}

int TFilesModel::AddRow(const TlvFilesRecord& Record) {
    if (!FColumns) {
        beginInsertColumns(QModelIndex(), 0, fcCount - 1);
        FColumns = true;
        endInsertColumns();
    }
    auto Row = std::make_unique<TRow>();
    Row->Record = Record;
    Row->TrimmedSeconds = Record.Duration;
    int Position = Count();
    beginInsertRows(QModelIndex(), Position, Position);
    FRows.push_back(std::move(Row));
    endInsertRows();
    return Position;
}

void TFilesModel::RemoveRow(int Row) {
    if (!ValidRow(Row)) return;
    beginRemoveRows(QModelIndex(), Row, Row);
    FRows.erase(FRows.begin() + Row);
    endRemoveRows();
    if (FRows.empty() && FColumns) {
        beginRemoveColumns(QModelIndex(), 0, fcCount - 1);
        FColumns = false;
        endRemoveColumns();
    }
}

void TFilesModel::Clear() {
    if (FRows.empty() && !FColumns) return;
    beginResetModel();
    FRows.clear();
    FColumns = false;
    endResetModel();
}

TlvFilesRecord* TFilesModel::Record(int Row) const {
    return ValidRow(Row) ? &FRows[static_cast<size_t>(Row)]->Record : nullptr;
}

int TFilesModel::FindSource(const std::string& Path) const {
    for (int R = 0; R < Count(); ++R)
        if (FRows[static_cast<size_t>(R)]->Record.SourceFile == Path) return R;
    return -1;
}

QString TFilesModel::Text(int Row, int Column) const {
    if (!ValidRow(Row)) return {};
    const TRow& R = *FRows[static_cast<size_t>(Row)];
    switch (Column) {
        case fcSource: return QString::fromStdString(R.Record.SourceFile);
        case fcLength: return QString::number(R.Record.Duration);
        case fcTrimmedLength: return QString::number(R.TrimmedSeconds);
        case fcDestination: return QString::fromStdString(ExtractFileName(R.Record.OutputFile));
        case fcProgress:
            switch (R.Status.State) {
                case rsWaiting: return {};
                case rsConverting: return QString("%1%").arg(R.Status.Percent);
                case rsDone: return "100%";
                case rsFailed: return "Failed";
            }
            return {};
        default: return {};
    }
}

void TFilesModel::SetTrimmedLength(int Row, int Seconds) {
    if (!ValidRow(Row) || FRows[static_cast<size_t>(Row)]->TrimmedSeconds == Seconds) return;
    FRows[static_cast<size_t>(Row)]->TrimmedSeconds = Seconds;
    RowChanged(Row, fcTrimmedLength, fcTrimmedLength, {Qt::DisplayRole});
}

int TFilesModel::TrimmedLength(int Row) const {
    return ValidRow(Row) ? FRows[static_cast<size_t>(Row)]->TrimmedSeconds : 0;
}

const TRowStatus& TFilesModel::Status(int Row) const {
    static const TRowStatus Outside;
    return ValidRow(Row) ? FRows[static_cast<size_t>(Row)]->Status : Outside;
}

void TFilesModel::SetStatus(int Row, TRowStatus Status) {
    if (!ValidRow(Row)) return;
    FRows[static_cast<size_t>(Row)]->Status = std::move(Status);
    RowChanged(Row, fcProgress, fcProgress, {Qt::DisplayRole, Qt::ToolTipRole});
}

void TFilesModel::SetDestination(int Row, const std::string& Output) {
    if (!ValidRow(Row) || FRows[static_cast<size_t>(Row)]->Record.OutputFile == Output) return;
    FRows[static_cast<size_t>(Row)]->Record.OutputFile = Output;
    RowChanged(Row, fcDestination, fcDestination, {Qt::DisplayRole});
}

bool TFilesModel::Checked(int Row) const { return ValidRow(Row) && FRows[static_cast<size_t>(Row)]->Checked; }

void TFilesModel::SetChecked(int Row, bool Checked) {
    if (!ValidRow(Row) || FRows[static_cast<size_t>(Row)]->Checked == Checked) return;
    FRows[static_cast<size_t>(Row)]->Checked = Checked;
    RowChanged(Row, fcSource, fcSource, {Qt::CheckStateRole});
}

void TFilesModel::ToggleChecked(int Row) {
    if (ValidRow(Row)) SetChecked(Row, !Checked(Row));
}

void TFilesModel::SetAllChecked(bool Checked) {
    for (int R = 0; R < Count(); ++R) SetChecked(R, Checked);
}

void TFilesModel::ReverseChecks() {
    for (int R = 0; R < Count(); ++R) ToggleChecked(R);
}

void TFilesModel::RowChanged(int Row, int FirstColumn, int LastColumn, const QList<int>& Roles) {
    if (!FColumns) return;
    emit dataChanged(index(Row, FirstColumn), index(Row, LastColumn), Roles);
}

// The delegate.

TFilesDelegate::TFilesDelegate(TFilesView* View) : QStyledItemDelegate(View), FView(View) {}

QString TFilesDelegate::ElidedSource(const QFontMetrics& Metrics, const QString& Path, int Width) {
    if (Width <= 0 || Metrics.horizontalAdvance(Path) <= Width) return Path;
    const int Slash = int(Path.lastIndexOf('/'));
    const QString Name = Path.mid(Slash + 1);
    const QString Ellipsis(QChar(0x2026));
    const QString Tail = Ellipsis + "/" + Name;
    if (Slash <= 0 || Metrics.horizontalAdvance(Tail) > Width) return Metrics.elidedText(Name, Qt::ElideMiddle, Width);
    // As much of the folder's start as fits before the file name.
    const QString Folder = Path.left(Slash);
    int Keep = 0, Low = 0, High = int(Folder.size());
    while (Low <= High) {
        const int Mid = (Low + High) / 2;
        if (Metrics.horizontalAdvance(Folder.left(Mid) + Tail) <= Width) {
            Keep = Mid;
            Low = Mid + 1;
        } else {
            High = Mid - 1;
        }
    }
    return Folder.left(Keep) + Tail;
}

void TFilesDelegate::paint(QPainter* Painter, const QStyleOptionViewItem& Option, const QModelIndex& Index) const {
    const QRect Cell = Option.rect;
    const QRect Row = FView->RowBounds(Cell);
    const bool Selected = Option.state & QStyle::State_Selected;
    const bool Focused = FView->hasFocus();
    // Row bounds as the drawing rules count them: right and bottom exclusive.
    const int L = Row.left(), T = Row.top(), R = Row.left() + Row.width(), B = Row.top() + Row.height();

    Painter->save();
    // Every cell paints the row-wide parts clipped to itself, so the row
    // comes out whole however the view splits it.
    Painter->setClipRect(Cell);
    const TListColours Colours = ListColours(CurrentTheme());
    const QColor Fill = Selected ? (Focused ? Colours.SelectedFocused : Colours.Selected)
                                 : (Index.row() % 2 == 1 ? Colours.Odd : Colours.Even);
    Painter->fillRect(QRect(QPoint(L + 1, T), QPoint(R - 2, B - 1)), Fill);

    QRect TextRect = Cell.adjusted(3, 0, -3, 0);
    if (Index.column() == fcSource) {
        Painter->setRenderHint(QPainter::Antialiasing, false);
        Painter->setPen(QPen(Selected && Focused ? Colours.SelectedText : Colours.Check, 2));
        Painter->setBrush(Qt::NoBrush);
        // QPainter draws a QRect's outline one pixel past its right and bottom.
        Painter->drawRect(QRect(L + 2, T + 2, 11, (B - 2) - (T + 2) - 1));
        if (Index.data(Qt::CheckStateRole).toInt() == Qt::Checked) {
            const QPoint Tick[3] = {QPoint(L + 4, T + 6), QPoint(L + 6, T + 11), QPoint(L + 11, T + 5)};
            Painter->drawPolyline(Tick, 3);
        }
        TextRect = QRect(QPoint(L + CheckAreaWidth + 3, Cell.top()), QPoint(Cell.right() - 3, Cell.bottom()));
    }

    const QString Text = Index.data(Qt::DisplayRole).toString();
    if (!Text.isEmpty() && TextRect.width() > 0) {
        Painter->setFont(Option.font);
        Painter->setPen(Selected && Focused ? Colours.SelectedText : Colours.Text);
        const Qt::Alignment Align =
            Qt::Alignment(Index.data(Qt::TextAlignmentRole).toInt()) & Qt::AlignHorizontal_Mask;
        const QString Shown = Index.column() == fcSource
                                  ? ElidedSource(Option.fontMetrics, Text, TextRect.width())
                                  : Option.fontMetrics.elidedText(Text, Qt::ElideRight, TextRect.width());
        Painter->drawText(TextRect, int(Align | Qt::AlignVCenter | Qt::TextSingleLine), Shown);
    }

    if (Selected) {
        Painter->setPen(QPen(Focused ? Colours.FrameFocused : Colours.Frame, 1));
        Painter->setBrush(Qt::NoBrush);
        Painter->drawRect(QRect(L, T, R - L - 1, B - T - 1));
    }
    Painter->restore();
}

QSize TFilesDelegate::sizeHint(const QStyleOptionViewItem& Option, const QModelIndex& Index) const {
    // Tall enough for the check box of the drawing rules and one text line.
    return QSize(TFilesModel::ColumnWidth(Index.column()), std::max(18, Option.fontMetrics.height() + 4));
}

bool TFilesDelegate::editorEvent(QEvent*, QAbstractItemModel*, const QStyleOptionViewItem&, const QModelIndex&) {
    return false;
}

// The view.

TFilesView::TFilesView(QWidget* Parent) : QTreeView(Parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setIndentation(0);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    // Ctrl+A, Shift and Ctrl clicks select several rows for Space, Remove
    // and the check commands.
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(false);
    header()->setSectionsClickable(false);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setHeaderHidden(true);
    setItemDelegate(new TFilesDelegate(this));
    for (int C = 0; C < fcCount; ++C) FWidths << TFilesModel::ColumnWidth(C);
    connect(header(), &QHeaderView::sectionResized, this, &TFilesView::SectionResized);
}

void TFilesView::setModel(QAbstractItemModel* Model) {
    if (QAbstractItemModel* Old = model()) Old->disconnect(this);
    QTreeView::setModel(Model);
    if (!Model) return;
    connect(Model, &QAbstractItemModel::columnsInserted, this, &TFilesView::ColumnsChanged);
    connect(Model, &QAbstractItemModel::columnsRemoved, this, &TFilesView::ColumnsChanged);
    connect(Model, &QAbstractItemModel::modelReset, this, &TFilesView::ColumnsChanged);
    ColumnsChanged();
}

TFilesModel* TFilesView::FilesModel() const { return qobject_cast<TFilesModel*>(model()); }

void TFilesView::ColumnsChanged() {
    const int Columns = model() ? model()->columnCount() : 0;
    // Without columns the list is a plain list: no header either.
    setHeaderHidden(Columns == 0);
    FApplyingWidths = true;
    // The widths in use, each widened where its caption would be cut off in
    // the font in use.
    const int Margin = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header()) + 4;
    for (int C = 0; C < Columns && C < fcCount; ++C) {
        const int Least = header()->fontMetrics().horizontalAdvance(TFilesModel::ColumnCaption(C)) + Margin;
        if (C == fcSource) {
            header()->setSectionResizeMode(C, QHeaderView::Stretch);
            continue;
        }
        header()->setSectionResizeMode(C, QHeaderView::Interactive);
        header()->resizeSection(C, std::max(FWidths[C], Least));
    }
    header()->setMinimumSectionSize(std::min(header()->minimumSectionSize(), 40));
    FApplyingWidths = false;
    viewport()->update();
}

void TFilesView::SectionResized(int Column, int, int NewSize) {
    if (FApplyingWidths || Column <= fcSource || Column >= fcCount || !model() || model()->columnCount() == 0) return;
    FWidths[Column] = NewSize;
}

QList<int> TFilesView::ColumnWidths() const {
    QList<int> Widths = FWidths;
    if (model() && model()->columnCount() > 0) Widths[fcSource] = header()->sectionSize(fcSource);
    return Widths;
}

void TFilesView::SetColumnWidths(const QList<int>& Widths) {
    if (Widths.size() != fcCount) return;
    for (int C = fcSource + 1; C < fcCount; ++C)
        if (Widths[C] > 0) FWidths[C] = Widths[C];
    ColumnsChanged();
}

QString TFilesView::ShownText(int Row, int Column) const {
    const TFilesModel* Files = FilesModel();
    if (!Files || Column < 0 || Column >= model()->columnCount()) return {};
    const QString Text = Files->Text(Row, Column);
    const int Width = header()->sectionSize(Column) - 6 - (Column == fcSource ? TFilesDelegate::CheckAreaWidth : 0);
    if (Column == fcSource) return TFilesDelegate::ElidedSource(fontMetrics(), Text, Width);
    return fontMetrics().elidedText(Text, Qt::ElideRight, Width);
}

QList<int> TFilesView::SelectedRows() const {
    QList<int> Rows;
    if (!selectionModel()) return Rows;
    for (const QModelIndex& Index : selectionModel()->selectedRows()) Rows << Index.row();
    std::sort(Rows.begin(), Rows.end());
    return Rows;
}

QRect TFilesView::RowBounds(const QRect& CellRect) const {
    const int Columns = model() ? model()->columnCount() : 0;
    if (Columns == 0) return CellRect;
    int Left = header()->sectionViewportPosition(0);
    int Right = Left;
    for (int C = 0; C < Columns; ++C)
        if (!header()->isSectionHidden(C))
            Right = std::max(Right, header()->sectionViewportPosition(C) + header()->sectionSize(C));
    return QRect(Left, CellRect.top(), Right - Left, CellRect.height());
}

void TFilesView::SetBackgroundPicture(const QImage& Picture) {
    FBackground = Picture;
    FDarkBackground = QImage();
    viewport()->update();
}

const QImage& TFilesView::DarkBackground() const {
    // The light picture with its lightness turned over, hues kept, so that
    // its white ground becomes the list's dark one.
    const QColor Ground = ListColours(CurrentTheme()).Even;
    if (FDarkBackground.isNull() || FDarkGround != Ground) {
        FDarkGround = Ground;
        FDarkBackground = FBackground.convertToFormat(QImage::Format_ARGB32);
        const float Low = Ground.lightnessF();
        // The picture's ground is its corner's colour.
        const QRgb Paper = FDarkBackground.isNull() ? 0 : FDarkBackground.pixel(0, 0);
        auto Near = [Paper](QRgb P) {
            return std::abs(qRed(P) - qRed(Paper)) + std::abs(qGreen(P) - qGreen(Paper)) +
                       std::abs(qBlue(P) - qBlue(Paper)) < 12;
        };
        for (int Y = 0; Y < FDarkBackground.height(); ++Y) {
            QRgb* Line = reinterpret_cast<QRgb*>(FDarkBackground.scanLine(Y));
            for (int X = 0; X < FDarkBackground.width(); ++X) {
                if (Near(Line[X])) {
                    Line[X] = Ground.rgb();
                    continue;
                }
                const QColor C = QColor::fromRgba(Line[X]);
                float H, S, L, A;
                C.getHslF(&H, &S, &L, &A);
                Line[X] = QColor::fromHslF(H < 0 ? 0 : H, S, Low + (1 - L) * (1 - Low), A).rgba();
            }
        }
    }
    return FDarkBackground;
}

QStringList TFilesView::LocalFiles(const QList<QUrl>& Urls) {
    QStringList Paths;
    for (const QUrl& Url : Urls)
        // The URL's bytes, not its text: a name need not be UTF-8.
        if (Url.isLocalFile())
            Paths << NameToQString(QByteArray::fromPercentEncoding(Url.path(QUrl::FullyEncoded).toLatin1()).toStdString());
    return Paths;
}

void TFilesView::drawRow(QPainter* Painter, const QStyleOptionViewItem& Option, const QModelIndex& Index) const {
    // Only the delegate draws: no row panel, no branch, no focus rectangle.
    const int Columns = model()->columnCount();
    for (int C = 0; C < Columns; ++C) {
        if (header()->isSectionHidden(C)) continue;
        QStyleOptionViewItem Cell = Option;
        Cell.rect = QRect(header()->sectionViewportPosition(C), Option.rect.top(), header()->sectionSize(C),
                          Option.rect.height());
        const QModelIndex CellIndex = model()->index(Index.row(), C, Index.parent());
        if (selectionModel() && selectionModel()->isSelected(CellIndex))
            Cell.state |= QStyle::State_Selected;
        else
            Cell.state &= ~QStyle::State_Selected;
        itemDelegateForIndex(CellIndex)->paint(Painter, Cell, CellIndex);
    }
}

void TFilesView::paintEvent(QPaintEvent* Event) {
    QTreeView::paintEvent(Event);
    if (!model() || model()->rowCount() > 0) return;
    QPainter Painter(viewport());
    if (!FBackground.isNull()) Painter.drawImage(QPoint(0, 0), DarkColours() ? DarkBackground() : FBackground);
    // An empty list shows that it has the keyboard: rows show it by their
    // selection colours.
    if (hasFocus()) {
        Painter.setPen(QPen(palette().color(QPalette::Active, QPalette::Highlight), 2));
        Painter.setBrush(Qt::NoBrush);
        Painter.drawRect(viewport()->rect().adjusted(1, 1, -1, -1));
    }
}

bool TFilesView::event(QEvent* Event) {
    const bool Result = QTreeView::event(Event);
    // The frame around the list turns to the selection colour while the
    // list has the keyboard.
    if (Event->type() == QEvent::Paint && hasFocus() && frameWidth() > 0) {
        QPainter Painter(this);
        Painter.setPen(QPen(palette().color(QPalette::Active, QPalette::Highlight), 1));
        Painter.setBrush(Qt::NoBrush);
        Painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    return Result;
}

void TFilesView::mousePressEvent(QMouseEvent* Event) {
    QTreeView::mousePressEvent(Event);
    if (Event->button() != Qt::LeftButton) return;
    const QModelIndex Index = indexAt(Event->position().toPoint());
    if (!Index.isValid()) return;
    const QRect Row = RowBounds(visualRect(Index));
    if (Event->position().x() >= Row.left() && Event->position().x() < Row.left() + TFilesDelegate::CheckAreaWidth) {
        FilesModel()->ToggleChecked(Index.row());
    }
}

void TFilesView::keyPressEvent(QKeyEvent* Event) {
    if (Event->key() == Qt::Key_Space && Event->modifiers() == Qt::NoModifier) {
        QList<int> Rows = SelectedRows();
        if (Rows.isEmpty() && currentIndex().isValid()) Rows << currentIndex().row();
        if (FilesModel())
            for (int Row : Rows) FilesModel()->ToggleChecked(Row);
        Event->accept();
        return;
    }
    QTreeView::keyPressEvent(Event);
}

void TFilesView::focusInEvent(QFocusEvent* Event) {
    QTreeView::focusInEvent(Event);
    update();
    viewport()->update();
}

void TFilesView::focusOutEvent(QFocusEvent* Event) {
    QTreeView::focusOutEvent(Event);
    update();
    viewport()->update();
}

void TFilesView::dragEnterEvent(QDragEnterEvent* Event) {
    if (Event->mimeData()->hasUrls() && !LocalFiles(Event->mimeData()->urls()).isEmpty())
        Event->acceptProposedAction();
    else
        Event->ignore();
}

void TFilesView::dragMoveEvent(QDragMoveEvent* Event) {
    if (Event->mimeData()->hasUrls())
        Event->acceptProposedAction();
    else
        Event->ignore();
}

void TFilesView::dropEvent(QDropEvent* Event) {
    const QStringList Paths = Event->mimeData()->hasUrls() ? LocalFiles(Event->mimeData()->urls()) : QStringList();
    if (Paths.isEmpty()) {
        Event->ignore();
        return;
    }
    Event->acceptProposedAction();
    emit FilesDropped(Paths);
}
