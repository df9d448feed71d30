// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/MailListModel.h"

#include "base/WireText.h"
#include "mailbox/MailRowOrder.h"

#include <algorithm>
#include <span>

namespace {

const char *const kCaptions[MailListModel::ColumnCount] = {"", "ID", "Subject", "From", "To", "Bytes"};

// Server texts are bytes; show them as UTF-8 where they are valid UTF-8 and
// byte for byte (Latin-1) otherwise, so nothing turns into replacement marks.
QString displayText(const QByteArray &raw)
{
    const QByteArray bytes = displayLineBytes(raw);
    const bool ascii = std::all_of(bytes.cbegin(), bytes.cend(), [](char c) { return static_cast<uchar>(c) < 0x80; });
    if (ascii)
        return QString::fromLatin1(bytes);
    return decodeWireText(bytes);
}

// The ID and Bytes texts of a listed row, in one block of the heap: "id",
// a NUL, "bytes" and the block's own NUL. Each text is an array of its own
// over its part, each ended by a NUL, each holding a reference to the block
// as a copy would; changing one copies it first, as for any shared array.
// A block saves a row about 45 of its some 250 bytes, which in a listing
// of millions is what counts.
void listedTexts(QByteArrayView id, QByteArrayView bytes, QByteArray *idText, QByteArray *bytesText)
{
    QByteArray block(id.size() + 1 + bytes.size(), Qt::Uninitialized);
    char *data = block.data();
    std::copy(id.begin(), id.end(), data);
    data[id.size()] = '\0';
    std::copy(bytes.begin(), bytes.end(), data + id.size() + 1);
    auto *header = block.data_ptr().d_ptr();
    header->ref();
    header->ref();
    *idText = QByteArray(QByteArray::DataPointer(header, data, id.size()));
    *bytesText = QByteArray(QByteArray::DataPointer(header, data + id.size() + 1, bytes.size()));
}

}  // namespace

MailListModel::MailListModel(QObject *parent) : QAbstractTableModel(parent), columnImages{-1, 0, -1, -1, -1, -1}
{
}

int MailListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : count();
}

int MailListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant MailListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= count() || index.column() >= ColumnCount)
        return {};
    const MailRow &row = rows[index.row()];
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        // Column 0 shows the row's caption, which is always empty.
        if (column == CheckColumn)
            return {};
        // The server's bytes are shared, not copied; a decoded text is cut
        // out of the row's one array of them.
        return displayText(showDecoded && !row.decoded.isEmpty() ? row.shown(column - 1, true).toByteArray()
                                                                 : row.texts[column - 1]);
    case Qt::CheckStateRole:
        return column == CheckColumn ? QVariant(row.checked ? Qt::Checked : Qt::Unchecked) : QVariant();
    case Qt::TextAlignmentRole:
        return int((column == BytesColumn ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    default:
        return {};
    }
}

bool MailListModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.row() >= count() || index.column() != CheckColumn || role != Qt::CheckStateRole)
        return false;
    setRowChecked(index.row(), value.value<Qt::CheckState>() == Qt::Checked);
    return true;
}

Qt::ItemFlags MailListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == CheckColumn)
        result |= Qt::ItemIsUserCheckable;
    return result;
}

QVariant MailListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromLatin1(kCaptions[section]);
    case Qt::DecorationRole: {
        const int image = columnImages.value(section, -1);
        if (image >= 0 && image < images.size())
            return images.at(image);
        return {};
    }
    case Qt::TextAlignmentRole:
        return int((section == BytesColumn ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    default:
        return {};
    }
}

void MailListModel::setHeaderImages(const QList<QIcon> &list)
{
    images = list;
    emit headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
}

int MailListModel::headerImage(int column) const
{
    return columnImages.value(column, -1);
}

void MailListModel::setHeaderImage(int column, int imageIndex)
{
    if (column < 0 || column >= ColumnCount || columnImages[column] == imageIndex)
        return;
    columnImages[column] = imageIndex;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

void MailListModel::setChangeHandler(std::function<void()> handler)
{
    changeHandler = std::move(handler);
}

QByteArray MailListModel::subItem(int row, int subItem) const
{
    if (row < 0 || row >= count() || subItem < 0 || subItem >= MailRow::SubItemCount)
        return {};
    return rows[row].texts[static_cast<size_t>(subItem)];
}

bool MailListModel::isChecked(int row) const
{
    return row >= 0 && row < count() && rows[row].checked;
}

int MailListModel::firstCheckedRow() const
{
    if (checkedTotal <= 0)
        return -1;
    for (int r = std::max(firstCheckedHint, 0); r < count(); ++r) {
        if (rows[r].checked) {
            firstCheckedHint = r;
            return r;
        }
    }
    firstCheckedHint = count();
    return -1;
}

QList<int> MailListModel::checkedRows() const
{
    QList<int> list;
    list.reserve(checkedTotal);
    for (int r = 0; r < count() && list.size() < checkedTotal; ++r) {
        if (rows[r].checked)
            list.append(r);
    }
    return list;
}

int MailListModel::rowOfId(const QByteArray &id) const
{
    if (!idRowsKnown) {
        idRows.clear();
        idRowBase = 0;
        idRows.reserve(count());
        for (int r = 0; r < count(); ++r) {
            // The first row of a number, as findRow finds it.
            const QByteArray &number = rows[r].texts[MailRow::Id];
            if (!idRows.contains(number))
                idRows.insert(number, r);
        }
        idRowsKnown = true;
    }
    const auto found = idRows.constFind(id);
    if (found == idRows.cend())
        return -1;
    const int row = found.value() - idRowBase;
    return row >= 0 && row < count() && !rows[row].deleted ? row : -1;
}

void MailListModel::rowsMoved()
{
    idRowsKnown = false;
    idRows.clear();
}

bool MailListModel::hasHeader(int row) const
{
    return row >= 0 && row < count() && rows[row].headed;
}

QString MailListModel::shownText(int row, int subItem) const
{
    if (row < 0 || row >= count())
        return {};
    return MailRowFilter::shownText(rows[row], subItem, showDecoded);
}

QList<int> MailListModel::rowsFromSender(const QString &address) const
{
    return MailRowFilter::fromSender(std::span<const MailRow>(rows.cbegin(), rows.cend()), address, showDecoded);
}

QList<int> MailListModel::rowsMatching(const MailRowFilter::Rule &rule) const
{
    return MailRowFilter::matching(std::span<const MailRow>(rows.cbegin(), rows.cend()), rule, showDecoded);
}

bool MailListModel::isSortedBy(int column, bool ascending) const
{
    for (int r = 0; r + 1 < count(); ++r) {
        if (MailRowOrder::compare(column, ascending, rows[r], rows[r + 1], showDecoded) > 0)
            return false;
    }
    return true;
}

int MailListModel::findRow(QByteArrayView text, int subItem) const
{
    if (subItem < 0 || subItem >= MailRow::SubItemCount)
        return -1;
    for (int r = 0; r < count(); ++r) {
        if (rows[r].texts[static_cast<size_t>(subItem)] == text)
            return r;
    }
    return -1;
}

void MailListModel::notifyChange()
{
    if (changeHandler)
        changeHandler();
}

void MailListModel::markRow(int row, bool checked)
{
    rows[row].checked = checked;
    if (checked) {
        ++checkedTotal;
        firstCheckedHint = std::min(firstCheckedHint, row);
    } else {
        --checkedTotal;
    }
}

template <typename Fill> void MailListModel::appendListingRows(qsizetype count, Fill fill)
{
    if (count == 0)
        return;
    const int first = this->count();
    rowsMoved();
    // One insertion for the whole listing: the view lays out and paints once.
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(count) - 1);
    rows.reserve(rows.size() + count);
    fill([this](QByteArrayView id, QByteArrayView bytes) {
        MailRow row;
        listedTexts(id, bytes, &row.texts[MailRow::Id], &row.texts[MailRow::Bytes]);
        rows.append(std::move(row));
    });
    endInsertRows();
    // Each added row is a change of its mark.
    for (qsizetype i = 0; i < count; ++i)
        notifyChange();
}

void MailListModel::addListingRows(const MailListing &listing)
{
    appendListingRows(listing.count(), [&listing](const auto &add) { listing.forEach(add); });
}

void MailListModel::addListingRows(const QList<ListingEntry> &entries)
{
    appendListingRows(entries.size(), [&entries](const auto &add) {
        for (const ListingEntry &entry : entries)
            add(entry.number, entry.size);
    });
}

void MailListModel::setRowHeaders(int row, const QByteArray &subject, const QByteArray &from, const QByteArray &to)
{
    writeHeaders(row, subject, from, to, QByteArray());
}

void MailListModel::setRowHeaders(int row, const QByteArray &subject, const QByteArray &from, const QByteArray &to,
                                  const DecodedHeaders &decoded)
{
    // Rows whose texts decode to their own bytes (plain ASCII headers, most
    // of a mailbox) keep no second copy.
    const QByteArray decodedSubject = decoded.subject.toUtf8();
    const QByteArray decodedFrom = decoded.sender.toUtf8();
    const QByteArray decodedTo = decoded.recipient.toUtf8();
    const bool same = decodedSubject == subject && decodedFrom == from && decodedTo == to;
    writeHeaders(row, subject, from, to,
                 same ? QByteArray() : MailRow::joinDecoded(decodedSubject, decodedFrom, decodedTo));
}

void MailListModel::writeHeaders(int row, const QByteArray &subject, const QByteArray &from, const QByteArray &to,
                                 const QByteArray &shownDecoded)
{
    if (row < 0 || row >= count())
        return;
    MailRow &target = rows[row];
    target.headed = true;
    if (target.texts[MailRow::Subject] == subject && target.texts[MailRow::From] == from &&
        target.texts[MailRow::To] == to && target.decoded == shownDecoded)
        return;
    target.texts[MailRow::Subject] = subject;
    target.texts[MailRow::From] = from;
    target.texts[MailRow::To] = to;
    target.decoded = shownDecoded;
    emit dataChanged(index(row, SubjectColumn), index(row, ToColumn), {Qt::DisplayRole});
    notifyChange();
}

void MailListModel::setDecodedHeaders(bool on)
{
    if (showDecoded == on)
        return;
    showDecoded = on;
    // One signal for all rows: the view repaints what it shows.
    if (count() > 0)
        emit dataChanged(index(0, SubjectColumn), index(count() - 1, ToColumn), {Qt::DisplayRole});
}

void MailListModel::setRowChecked(int row, bool checked)
{
    if (row < 0 || row >= count() || rows[row].checked == checked || (checked && rows[row].deleted))
        return;
    markRow(row, checked);
    const QModelIndex cell = index(row, CheckColumn);
    emit dataChanged(cell, cell, {Qt::CheckStateRole});
    notifyChange();
}

void MailListModel::setRowsChecked(const QList<int> &rowList, bool checked)
{
    int low = -1;
    int high = -1;
    for (int row : rowList) {
        // The change handler may change other marks; look at each row afresh.
        if (row < 0 || row >= count() || rows[row].checked == checked || (checked && rows[row].deleted))
            continue;
        markRow(row, checked);
        low = low < 0 ? row : std::min(low, row);
        high = std::max(high, row);
        notifyChange();
    }
    // One repaint for the whole run instead of one per row.
    high = std::min(high, count() - 1);
    if (low >= 0 && low <= high)
        emit dataChanged(index(low, CheckColumn), index(high, CheckColumn), {Qt::CheckStateRole});
}

void MailListModel::setAllChecked(bool checked)
{
    int low = -1;
    int high = -1;
    for (int row = 0; row < count(); ++row) {
        if (rows[row].checked == checked || (checked && rows[row].deleted))
            continue;
        markRow(row, checked);
        if (low < 0)
            low = row;
        high = row;
        notifyChange();
    }
    high = std::min(high, count() - 1);
    if (low >= 0 && low <= high)
        emit dataChanged(index(low, CheckColumn), index(high, CheckColumn), {Qt::CheckStateRole});
}

bool MailListModel::removeMailRow(int row)
{
    if (row < 0 || row >= count())
        return false;
    // Rows marked deleted behind it move up by one.
    deletedRows.removeOne(row);
    for (int &marked : deletedRows) {
        if (marked > row)
            --marked;
    }
    restructuring = true;
    rowsMoved();
    beginRemoveRows(QModelIndex(), row, row);
    const bool wasChecked = rows[row].checked;
    if (wasChecked)
        --checkedTotal;
    // The first row goes without moving the others (a batch deletes in list
    // order); a later row moves only the rows behind it, as raw memory.
    rows.remove(row);
    if (row < firstCheckedHint)
        --firstCheckedHint;
    endRemoveRows();
    restructuring = false;
    return wasChecked;
}

bool MailListModel::markRowDeleted(int row)
{
    if (row < 0 || row >= count() || rows[row].deleted)
        return false;
    MailRow &target = rows[row];
    target.deleted = true;
    deletedRows.append(row);
    const bool wasChecked = target.checked;
    if (wasChecked)
        markRow(row, false);
    return wasChecked;
}

int MailListModel::nearestKeptRow(int row) const
{
    for (int r = row; r < count(); ++r) {
        if (!rows[r].deleted)
            return r;
    }
    for (int r = std::min(row, count()) - 1; r >= 0; --r) {
        if (!rows[r].deleted)
            return r;
    }
    return -1;
}

void MailListModel::removeDeletedRows()
{
    if (deletedRows.isEmpty())
        return;
    std::sort(deletedRows.begin(), deletedRows.end());
    // Runs of adjacent rows, last first so the earlier ones keep their place.
    QList<std::pair<int, int>> runs;
    for (const int row : std::as_const(deletedRows)) {
        if (!runs.isEmpty() && runs.last().second + 1 == row)
            runs.last().second = row;
        else
            runs.append({row, row});
    }
    restructuring = true;
    // A run at the start of the list leaves the other rows' numbers known.
    if (!(runs.size() == 1 && runs.first().first == 0))
        rowsMoved();
    // A removal costs the view and every kept index a pass; a reordering
    // costs one pass for all the runs.
    constexpr qsizetype MaxSeparateRuns = 8;
    if (runs.size() <= MaxSeparateRuns) {
        for (auto run = runs.crbegin(); run != runs.crend(); ++run)
            removeRun(run->first, run->second);
    } else {
        removeScattered();
    }
    deletedRows.clear();
    restructuring = false;
}

void MailListModel::removeRun(int first, int last)
{
    beginRemoveRows(QModelIndex(), first, last);
    // Rows marked deleted carry no mark. A run at the start goes without
    // moving the others (a batch deletes in list order); a later one moves
    // only the rows behind it, as raw memory.
    if (idRowsKnown && first == 0) {
        for (int r = first; r <= last; ++r) {
            const auto found = idRows.constFind(rows[r].texts[MailRow::Id]);
            if (found != idRows.cend() && found.value() - idRowBase == r)
                idRows.erase(found);
        }
        idRowBase += last - first + 1;
    }
    rows.remove(first, last - first + 1);
    if (firstCheckedHint > last)
        firstCheckedHint -= last - first + 1;
    else if (firstCheckedHint > first)
        firstCheckedHint = first;
    endRemoveRows();
}

void MailListModel::removeScattered()
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const int total = count();
    const int kept = total - int(deletedRows.size());
    std::vector<int> newRowOf(static_cast<size_t>(total));
    QList<MailRow> ordered;
    ordered.reserve(total);
    for (int r = 0, next = 0; r < total; ++r) {
        if (!rows[r].deleted) {
            newRowOf[static_cast<size_t>(r)] = next++;
            ordered.append(std::move(rows[r]));
        }
    }
    for (int r = 0, next = kept; r < total; ++r) {
        if (rows[r].deleted) {
            newRowOf[static_cast<size_t>(r)] = next++;
            ordered.append(std::move(rows[r]));
        }
    }
    rows.swap(ordered);
    firstCheckedHint = 0;
    movePersistentRows(newRowOf);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    beginRemoveRows(QModelIndex(), kept, total - 1);
    rows.resize(kept);
    endRemoveRows();
}

void MailListModel::movePersistentRows(const std::vector<int> &newRowOf)
{
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex &old : before)
        after.append(index(newRowOf[static_cast<size_t>(old.row())], old.column()));
    changePersistentIndexList(before, after);
}

void MailListModel::removeAllMailRows()
{
    deletedRows.clear();
    restructuring = true;
    rowsMoved();
    beginResetModel();
    QList<MailRow>().swap(rows);  // give the memory of a large listing back
    checkedTotal = 0;
    firstCheckedHint = 0;
    endResetModel();
    restructuring = false;
}

void MailListModel::sortRows(int column, bool ascending)
{
    if (column < IdColumn || column > BytesColumn)
        return;
    // Rows marked deleted go first: they have no place in any order.
    removeDeletedRows();
    restructuring = true;
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const std::vector<int> order = MailRowOrder::sortedOrder(rows, column, ascending, showDecoded);
    QList<MailRow> sorted;
    sorted.reserve(rows.size());
    std::vector<int> newRowOf(static_cast<size_t>(rows.size()));
    for (size_t i = 0; i < order.size(); ++i) {
        sorted.append(std::move(rows[order[i]]));
        newRowOf[static_cast<size_t>(order[i])] = static_cast<int>(i);
    }
    rows.swap(sorted);
    firstCheckedHint = 0;
    rowsMoved();

    // Selection, current row and any other kept index follow their rows.
    movePersistentRows(newRowOf);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    restructuring = false;
}
