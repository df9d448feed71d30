// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mailbox/MailRow.h"
#include "mailbox/MailRowFilter.h"
#include "session/HeaderDecoding.h"
#include "session/MailListing.h"
#include "session/Pop3Parsing.h"

#include <QAbstractTableModel>
#include <QByteArrayView>
#include <QHash>
#include <QIcon>
#include <QList>

#include <functional>
#include <vector>

// The rows of the mailbox list: one message each, with a check mark and the
// five texts ID, Subject, From, To, Bytes. Column 0 holds only the check box;
// column k shows sub-item k - 1.
//
// The window learns of every row change through the change handler, which
// runs synchronously after each change of a row's mark or texts and once per
// added row, before the operation goes on to the next row. Removing rows and
// sorting run no handler. Rows whose messages were deleted leave the list
// together (markRowDeleted, then removeDeletedRows): one removal for a run of
// adjacent rows, not one per row, so a batch over many rows costs time in
// proportion to its rows, not to its rows times the list. The number of checked rows is kept as marks change,
// so reading it costs nothing however long the list is.
class MailListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int ColumnCount = 6;
    enum Column { CheckColumn = 0, IdColumn, SubjectColumn, FromColumn, ToColumn, BytesColumn };

    explicit MailListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The sort-indicator images the headers can show (index into this list).
    void setHeaderImages(const QList<QIcon> &images);
    int headerImage(int column) const;
    void setHeaderImage(int column, int imageIndex);

    void setChangeHandler(std::function<void()> handler);

    // --- reading rows ---
    int count() const { return static_cast<int>(rows.size()); }
    // Sub-item 0 to 4 of a row; empty for a row or sub-item that does not exist.
    QByteArray subItem(int row, int subItem) const;
    bool isChecked(int row) const;
    const MailRow &mailRow(int row) const { return rows.at(row); }
    int checkedCount() const { return checkedTotal; }
    // The first checked row in list order, or -1.
    int firstCheckedRow() const;
    // Every checked row, in list order.
    QList<int> checkedRows() const;
    // The first row whose sub-item equals the text byte for byte, or -1.
    int findRow(QByteArrayView text, int subItem) const;
    // findRow(id, 0) without a scan, for a row not marked deleted: a lookup
    // kept until rows are added, removed or sorted.
    int rowOfId(const QByteArray &id) const;
    // Whether a header came for the row.
    bool hasHeader(int row) const;
    // The text the row shows for a sub-item (0 to 4).
    QString shownText(int row, int subItem) const;
    // The rows, in list order, that Check All From This Sender and Check
    // Matching take (MailRowFilter), by the texts shown now.
    QList<int> rowsFromSender(const QString &address) const;
    QList<int> rowsMatching(const MailRowFilter::Rule &rule) const;
    // Whether the rows already stand in the order sortRows would give.
    bool isSortedBy(int column, bool ascending) const;

    // --- changing rows ---
    // Appends one unchecked row per entry (ID and Bytes from the listing,
    // the header texts empty), in the listing's order.
    void addListingRows(const MailListing &listing);
    void addListingRows(const QList<ListingEntry> &entries);
    // Writes Subject, From and To of a row: the server's bytes, and their
    // decoded form (without it, the bytes serve as both).
    void setRowHeaders(int row, const QByteArray &subject, const QByteArray &from, const QByteArray &to);
    void setRowHeaders(int row, const QByteArray &subject, const QByteArray &from, const QByteArray &to,
                       const DecodedHeaders &decoded);
    void setRowChecked(int row, bool checked);
    // Sets the marks of the given rows, in the given order.
    void setRowsChecked(const QList<int> &rowList, bool checked);
    void setAllChecked(bool checked);
    // Removes one row; returns whether it was checked. Runs no change handler.
    bool removeMailRow(int row);
    // The server deleted the row's message: its mark goes off at once (so
    // nothing takes the row any more) and it is no longer found by number,
    // but it stays in the list until removeDeletedRows. Returns whether it
    // was checked. Runs no change handler.
    bool markRowDeleted(int row);
    bool hasDeletedRows() const { return !deletedRows.isEmpty(); }
    // The row nearest to row that is not marked deleted: the next one after
    // it, else the one before; -1 when there is none.
    int nearestKeptRow(int row) const;
    // Removes every row marked deleted, in one removal per run of adjacent
    // rows; past a few runs, in one reordering that gathers them at the end
    // and one removal. Other rows keep their order; the selection and other
    // kept indexes follow their rows. Runs no change handler.
    void removeDeletedRows();
    void removeAllMailRows();
    // Sorts all rows by a column (1 to 5); rows that compare equal keep
    // their order, and the selection follows its rows.
    void sortRows(int column, bool ascending);

    // Whether Subject, From and To show (and sort by) their decoded texts.
    // Switching repaints the list at once; no row moves and no change
    // handler runs, since no row's own texts change.
    bool decodedHeaders() const { return showDecoded; }
    void setDecodedHeaders(bool on);

    // True while rows are being removed or reordered: selection changes
    // reported then are not changes of a row.
    bool isRestructuring() const { return restructuring; }

private:
    // Appends count rows, each made by the next call of add(id, bytes)
    // that fill(add) makes.
    template <typename Fill> void appendListingRows(qsizetype count, Fill fill);
    void markRow(int row, bool checked);
    void writeHeaders(int row, const QByteArray &subject, const QByteArray &from, const QByteArray &to,
                      const QByteArray &shownDecoded);
    void notifyChange();
    void rowsMoved();
    void removeRun(int first, int last);
    // Selection, current row and any other kept index follow their rows to
    // newRowOf[old row].
    void movePersistentRows(const std::vector<int> &newRowOf);
    void removeScattered();

    QList<MailRow> rows;
    // Rows marked deleted and not yet removed.
    QList<int> deletedRows;
    int checkedTotal = 0;
    // No row before this index is checked: the next checked row is found
    // without scanning the rows a batch has already worked through.
    mutable int firstCheckedHint = 0;
    // Row of each message number (plus idRowBase), built when first asked
    // for after a change of the rows' order. Rows removed from the start of
    // the list (a batch deletes in list order) only move the base.
    mutable QHash<QByteArray, int> idRows;
    mutable int idRowBase = 0;
    mutable bool idRowsKnown = false;
    bool restructuring = false;
    bool showDecoded = false;
    std::function<void()> changeHandler;

    QList<QIcon> images;
    QList<int> columnImages;
};
