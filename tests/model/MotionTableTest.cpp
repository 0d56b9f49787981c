#include "MotionTable.h"
#include "TestFiles.h"
#include "TextRules.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace kobito {
namespace {

using namespace test;
using namespace Qt::StringLiterals;
using L = QStringList;

const L ZeroRow(ChannelCount, u"0"_s);

QString Mark(int row, int k) {
    return u"%1:%2"_s.arg(row).arg(k);
}

L MarkedRow(int row) {
    L values;
    for (int k = 0; k < ChannelCount; ++k)
        values.append(Mark(row, k));
    return values;
}

// Every row holds text of its own, so that moved rows can be told apart.
void FillMarked(MotionTableModel& model) {
    for (int r = 0; r < MotionTableModel::RowCount; ++r)
        model.setRowValues(r, MarkedRow(r));
}

struct Change {
    int top, left, bottom, right;
    bool operator==(const Change&) const = default;
};

void PrintTo(const Change& c, std::ostream* os) {
    *os << '(' << c.top << ',' << c.left << ")..(" << c.bottom << ',' << c.right << ')';
}

class Recorder {
public:
    explicit Recorder(MotionTableModel& model) {
        QObject::connect(&model, &QAbstractItemModel::dataChanged,
                         [this](const QModelIndex& a, const QModelIndex& b) {
                             changes.push_back({a.row(), a.column(), b.row(), b.column()});
                         });
        QObject::connect(&model, &QAbstractItemModel::headerDataChanged,
                         [this](Qt::Orientation o, int first, int last) {
                             EXPECT_EQ(o, Qt::Horizontal);
                             EXPECT_EQ(first, 0);
                             EXPECT_EQ(last, 0);
                             ++headerChanges;
                         });
    }
    std::vector<Change> changes;
    int headerChanges = 0;
};

TEST(MotionTableModel, StartsAsHundredClearedRowsWithRowNumbers) {
    const MotionTableModel model;
    ASSERT_EQ(model.rowCount(), 100);
    ASSERT_EQ(model.columnCount(), 17);
    for (int r = 0; r < 100; ++r) {
        EXPECT_EQ(model.cell(r, 0), QString::number(r));
        EXPECT_EQ(model.data(model.index(r, 0)).toString(), QString::number(r));
        EXPECT_EQ(model.rowValues(r), ZeroRow);
        EXPECT_EQ(model.data(model.index(r, 16)).toString(), u"0"_s);
    }
    EXPECT_EQ(model.rowCount(model.index(0, 0)), 0);
    EXPECT_EQ(model.columnCount(model.index(0, 0)), 0);
}

TEST(MotionTableModel, HeadersAreTheChannelNamesAndTheModifiedMark) {
    MotionTableModel model;
    Recorder recorder(model);
    const L names{"",    "HDY", "WTY", "RSR", "RSP", "RHG", "LSR", "LSP", "LHG",
                  "RFY", "RFP", "LFY", "LFP", "RED", "GRN", "BLU", "TIM"};
    for (int c = 0; c < 17; ++c)
        EXPECT_EQ(model.headerData(c, Qt::Horizontal).toString(), names[c]) << c;

    model.setModifiedHeader(true);
    EXPECT_TRUE(model.modifiedHeader());
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), u"***"_s);
    model.setModifiedHeader(true); // no change, no signal
    model.setModifiedHeader(false);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), QString());
    EXPECT_EQ(recorder.headerChanges, 2);
    EXPECT_TRUE(recorder.changes.empty());
}

TEST(MotionTableModel, CellsAreRightAlignedAndNotEditable) {
    const MotionTableModel model;
    for (int c : {0, 1, 16}) {
        const QModelIndex index = model.index(3, c);
        EXPECT_EQ(model.data(index, Qt::TextAlignmentRole).toInt(),
                  int(Qt::AlignRight | Qt::AlignVCenter));
        EXPECT_FALSE(model.flags(index).testFlag(Qt::ItemIsEditable));
        EXPECT_TRUE(model.flags(index).testFlag(Qt::ItemIsSelectable));
    }
}

TEST(MotionTableModel, CellsHoldAnyTextExactly) {
    MotionTableModel model;
    Recorder recorder(model);
    for (const QString& text : {u" 12 "_s, u"abc"_s, QString(), u"1,5"_s, u"日本"_s}) {
        model.setCell(42, 7, text);
        EXPECT_EQ(model.cell(42, 7), text);
        EXPECT_EQ(model.data(model.index(42, 7), Qt::EditRole).toString(), text);
        EXPECT_EQ(model.rowValues(42)[6], text);
    }
    EXPECT_EQ(recorder.changes.size(), 5u);
    EXPECT_EQ(recorder.changes.front(), (Change{42, 7, 42, 7}));
    model.setCell(42, 7, u"日本"_s); // same text: nothing to repaint
    EXPECT_EQ(recorder.changes.size(), 5u);
}

TEST(MotionTableModel, IgnoresCellsOutOfRangeAndTheRowNumberColumn) {
    MotionTableModel model;
    Recorder recorder(model);
    model.setCell(5, 0, u"x"_s);
    model.setCell(-1, 1, u"x"_s);
    model.setCell(100, 1, u"x"_s);
    model.setCell(0, 17, u"x"_s);
    model.setRowValues(100, MarkedRow(1));
    model.clearRow(-1);
    model.copyRow(0, 100);
    model.copyRow(-1, 0);
    model.insertClearedRow(100);
    model.deleteRow(-1);
    EXPECT_TRUE(recorder.changes.empty());
    EXPECT_EQ(model.cell(5, 0), u"5"_s);
    EXPECT_EQ(model.cell(100, 1), QString());
    EXPECT_EQ(model.cell(0, 17), QString());
    EXPECT_TRUE(model.rowValues(-1).isEmpty());
}

TEST(MotionTableModel, SetRowValuesLeavesCellsWithoutAValue) {
    MotionTableModel model;
    model.setRowValues(3, L{"a", "b"});
    EXPECT_EQ(model.rowValues(3), (L{"a", "b"} + L(14, u"0"_s)));
    model.setRowValues(3, MarkedRow(3) + L{"extra"});
    EXPECT_EQ(model.rowValues(3), MarkedRow(3));
}

// Expected content of row d after an operation: the marked row it came from, or -1 for zeros.
using Source = std::function<int(int d)>;

struct RowOpCase {
    const char* name;
    std::function<void(MotionTableModel&)> op;
    Source source;
    Change change;
};

class RowOperationTest : public ::testing::TestWithParam<RowOpCase> {};

TEST_P(RowOperationTest, MovesRowsWithOneSignal) {
    const RowOpCase& c = GetParam();
    MotionTableModel model;
    FillMarked(model);
    Recorder recorder(model);
    c.op(model);
    for (int d = 0; d < 100; ++d) {
        const int from = c.source(d);
        EXPECT_EQ(model.rowValues(d), from < 0 ? ZeroRow : MarkedRow(from)) << "row " << d;
        EXPECT_EQ(model.cell(d, 0), QString::number(d));
    }
    ASSERT_EQ(recorder.changes.size(), 1u);
    EXPECT_EQ(recorder.changes[0], c.change);
    EXPECT_EQ(recorder.headerChanges, 0);
}

int Same(int d) {
    return d;
}

INSTANTIATE_TEST_SUITE_P(
    Table, RowOperationTest,
    ::testing::Values(
        RowOpCase{"ClearRow",
                  [](auto& m) { m.clearRow(7); },
                  [](int d) { return d == 7 ? -1 : d; },
                  {7, 1, 7, 16}},
        RowOpCase{"CopyRow",
                  [](auto& m) { m.copyRow(3, 9); },
                  [](int d) { return d == 9 ? 3 : d; },
                  {9, 1, 9, 16}},
        RowOpCase{"CopyRowOntoItself", [](auto& m) { m.copyRow(4, 4); }, Same, {4, 1, 4, 16}},
        RowOpCase{"InsertAt0",
                  [](auto& m) { m.insertClearedRow(0); },
                  [](int d) { return d == 0 ? -1 : d - 1; },
                  {0, 1, 99, 16}},
        RowOpCase{"InsertAt50",
                  [](auto& m) { m.insertClearedRow(50); },
                  [](int d) { return d < 50    ? d
                                     : d == 50 ? -1
                                               : d - 1; },
                  {50, 1, 99, 16}},
        RowOpCase{"InsertAt99",
                  [](auto& m) { m.insertClearedRow(99); },
                  [](int d) { return d == 99 ? -1 : d; },
                  {99, 1, 99, 16}},
        RowOpCase{"DeleteAt0",
                  [](auto& m) { m.deleteRow(0); },
                  [](int d) { return d == 99 ? -1 : d + 1; },
                  {0, 1, 99, 16}},
        RowOpCase{"DeleteAt50",
                  [](auto& m) { m.deleteRow(50); },
                  [](int d) { return d < 50    ? d
                                     : d == 99 ? -1
                                               : d + 1; },
                  {50, 1, 99, 16}},
        RowOpCase{"DeleteAt99",
                  [](auto& m) { m.deleteRow(99); },
                  [](int d) { return d == 99 ? -1 : d; },
                  {99, 1, 99, 16}},
        RowOpCase{
            "ClearAll", [](auto& m) { m.clearAll(); }, [](int) { return -1; }, {0, 1, 99, 16}},
        RowOpCase{"FromLinesClearsFirst",
                  [](auto& m) { m.fromLines({EncodeMotionLine(MarkedRow(40))}); },
                  [](int d) { return d == 0 ? 40 : -1; },
                  {0, 1, 99, 16}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MotionTableModel, FromLinesUsesTheFileRules) {
    MotionTableModel model;
    FillMarked(model);
    model.fromLines({u" 1 ,\"2,5\",,\"a\"\"b\""_s, u""_s, u"7"_s});
    EXPECT_EQ(model.rowValues(0), (L{"1", "2,5", "", "a\"b"} + L(12, u"0"_s)));
    EXPECT_EQ(model.rowValues(1), ZeroRow);
    EXPECT_EQ(model.rowValues(2), (L{"7"} + L(15, u"0"_s)));
    for (int r = 3; r < 100; ++r)
        EXPECT_EQ(model.rowValues(r), ZeroRow) << r;
}

TEST(MotionTableModel, SurvivesASaveAndAnOpen) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"round.kmf"_s);
    MotionTableModel saved;
    FillMarked(saved);
    saved.setRowValues(0, L{"1,5", "say \"hi\"", " 12 ", "", "日本", "a b"});
    saved.setCell(99, 16, u"0"_s);
    SaveMotionFile(path, saved.toRows());

    const TextFileResult text = LoadTextLines(path);
    ASSERT_TRUE(text.ok);
    MotionTableModel opened;
    opened.fromLines(text.lines);
    EXPECT_EQ(opened.rowValues(0),
              (L{"1,5", "say \"hi\"", "12", "", "日本", "a b"} + MarkedRow(0).mid(6)));
    for (int r = 1; r < 100; ++r)
        EXPECT_EQ(opened.rowValues(r), saved.rowValues(r)) << r;
}

} // namespace
} // namespace kobito
