// The inventory window's list on a real varnix.db: sorting by each kind of column (firmware as a
// number, times as their text), the text and family filters alone and together, the findings of
// the device list's checks over the inventory, and how long 10,000 modules take to list.
#include "app/app_context.h"
#include "app/settings.h"
#include "core/types.h"
#include "inventory/inventory_db.h"
#include "ui/inventory/inventory_model.h"
#include "ui/inventory/inventory_window.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <cstdio>

using namespace varnix;

namespace {

QString Key(const char* key) {
    return QString::fromLatin1(key) + QStringLiteral(" %1");
}

QStringList L(std::initializer_list<const char*> texts) {
    QStringList out;
    for (const char* t : texts)
        out << QString::fromUtf8(t);
    return out;
}

TSeenModule Seen(const char* mac, std::int32_t family, int firmware, const char* ip, const char* name) {
    return {QString::fromLatin1(mac),  family, firmware, QString::fromLatin1(ip), QString::fromLatin1(name),
            QStringLiteral("10.0.0.1")};
}

// The column's cells from top to bottom as the proxy shows them.
QStringList Column(const QAbstractItemModel& m, int column) {
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r)
        out << m.index(r, column).data().toString();
    return out;
}

class InventoryList : public ::testing::Test {
protected:
    void SetUp() override {
        auto opened = TInventory::OpenFile(dir_.filePath(QStringLiteral("varnix.db")), QString());
        ASSERT_TRUE(opened) << opened.Error().Message;
        inv_ = std::move(*opened);
        // Four sightings at known times; the last search moves "Press" to a new address and time.
        ASSERT_TRUE(inv_->RecordSearch({Seen("02:00:00:00:00:01", FamilyZ2, 4017, "10.0.0.5", "Press"),
                                        Seen("02:00:00:00:00:02", FamilyZ3, 950, "10.0.0.6", "Oven")},
                                       QStringLiteral("2026-11-01T08:00:00.000Z")));
        ASSERT_TRUE(inv_->RecordSearch({Seen("02:00:00:00:00:03", FamilyZ2, 10000, "10.0.0.5", "pump-A"),
                                        Seen("02:00:00:00:00:04", FamilyZ2, 4016, "10.0.0.8", "Oven")},
                                       QStringLiteral("2026-12-01T08:00:00.000Z")));
        ASSERT_TRUE(inv_->RecordSearch({Seen("02:00:00:00:00:01", FamilyZ2, 4018, "10.0.0.9", "Press")},
                                       QStringLiteral("2026-12-09T08:00:00.000Z")));
        auto rows = inv_->Modules();
        ASSERT_TRUE(rows) << rows.Error().Message;
        model_.SetRows(std::move(*rows));
        proxy_.setSourceModel(&model_);
    }

    QTemporaryDir dir_;
    std::unique_ptr<TInventory> inv_;
    TInventoryModel model_{Key};
    TInventoryFilter proxy_;
};

TEST_F(InventoryList, SortsByNumberTimeAndText) {
    ASSERT_EQ(proxy_.rowCount(), 4);
    // Firmware as a number: as text "10000" would come first.
    proxy_.sort(TInventoryModel::ColFirmware, Qt::AscendingOrder);
    EXPECT_EQ(Column(proxy_, TInventoryModel::ColFirmware), (L({"950", "4016", "4018", "10000"})));
    proxy_.sort(TInventoryModel::ColFirmware, Qt::DescendingOrder);
    EXPECT_EQ(Column(proxy_, TInventoryModel::ColFirmware), (L({"10000", "4018", "4016", "950"})));
    // Last seen: the module seen again comes last, its first sighting kept.
    proxy_.sort(TInventoryModel::ColLastSeen, Qt::AscendingOrder);
    EXPECT_EQ(Column(proxy_, TInventoryModel::ColMac).last(), QStringLiteral("02 00 00 00 00 01"));
    EXPECT_EQ(proxy_.index(3, TInventoryModel::ColFirstSeen).data().toString(),
              QStringLiteral("2026-11-01T08:00:00.000Z"));
    EXPECT_EQ(proxy_.index(3, TInventoryModel::ColAddress).data().toString(), QStringLiteral("10.0.0.9"));
    // Names without regard to case.
    proxy_.sort(TInventoryModel::ColName, Qt::AscendingOrder);
    EXPECT_EQ(Column(proxy_, TInventoryModel::ColName), (L({"Oven", "Oven", "Press", "pump-A"})));
    proxy_.sort(TInventoryModel::ColFamily, Qt::DescendingOrder);
    EXPECT_EQ(Column(proxy_, TInventoryModel::ColFamily), (L({"Z3", "Z2", "Z2", "Z2"})));
}

TEST_F(InventoryList, FindingsAndFilters) {
    proxy_.sort(TInventoryModel::ColMac, Qt::AscendingOrder);
    // Two modules named Oven; 10.0.0.5 is no longer shared: Press, seen there first, has moved on.
    const QStringList findings = Column(proxy_, TInventoryModel::ColFindings);
    EXPECT_EQ(findings[0], QString());
    EXPECT_EQ(findings[1], QStringLiteral("lang_Check_DuplicateName Oven"));
    EXPECT_EQ(findings[2], QString());
    EXPECT_EQ(findings[3], QStringLiteral("lang_Check_DuplicateName Oven"));

    // The text over every column, case ignored: a name, an address, a finding.
    proxy_.SetText(QStringLiteral("PUMP"));
    EXPECT_EQ(Column(proxy_, TInventoryModel::ColMac), (L({"02 00 00 00 00 03"})));
    proxy_.SetText(QStringLiteral("10.0.0.9"));
    EXPECT_EQ(Column(proxy_, TInventoryModel::ColName), (L({"Press"})));
    proxy_.SetText(QStringLiteral("duplicatename"));
    EXPECT_EQ(proxy_.rowCount(), 2);
    // Family and text together, then the family alone.
    proxy_.SetFamily(FamilyZ3);
    EXPECT_EQ(Column(proxy_, TInventoryModel::ColMac), (L({"02 00 00 00 00 02"})));
    proxy_.SetText(QString());
    EXPECT_EQ(proxy_.rowCount(), 1);
    proxy_.SetFamily(FamilyZ2);
    EXPECT_EQ(proxy_.rowCount(), 3);
    proxy_.SetFamily(0);
    EXPECT_EQ(proxy_.rowCount(), 4);
    // A new reading keeps the filters.
    proxy_.SetText(QStringLiteral("oven"));
    auto rows = inv_->Modules();
    ASSERT_TRUE(rows);
    model_.SetRows(std::move(*rows));
    EXPECT_EQ(proxy_.rowCount(), 2);
}

// The window by the keyboard: the filter and family narrow the list, F5 reads again, Esc closes,
// and the next window comes back at the size the last one had.
TEST_F(InventoryList, WindowByTheKeyboard) {
    QTemporaryDir home;
    TAppContext context(home.path());
    int loads = 0;
    const auto load = [&](std::function<void(TInventoryWindow::TRows)> done) {
        ++loads;
        done(inv_->Modules());
    };
    {
        TInventoryWindow w(context, load, nullptr);
        w.Open();
        auto* list = w.findChild<QTreeView*>(QStringLiteral("lv_Inventory"));
        auto* filter = w.findChild<QLineEdit*>(QStringLiteral("edt_InvFilter"));
        auto* family = w.findChild<QComboBox*>(QStringLiteral("cbb_InvFamily"));
        auto* count = w.findChild<QLabel*>(QStringLiteral("lbl_InvCount"));
        ASSERT_EQ(list->model()->rowCount(), 4);
        EXPECT_EQ(count->text(), QStringLiteral("4 of 4 module(s) shown"));
        EXPECT_FALSE(list->accessibleName().isEmpty());
        // Newest sighting first until another column is chosen.
        EXPECT_EQ(list->model()->index(0, TInventoryModel::ColMac).data().toString(),
                  QStringLiteral("02 00 00 00 00 01"));
        QTest::keyClicks(filter, QStringLiteral("oven"));
        EXPECT_EQ(list->model()->rowCount(), 2);
        QTest::keyClick(family, Qt::Key_End); // Z3
        EXPECT_EQ(list->model()->rowCount(), 1);
        EXPECT_EQ(count->text(), QStringLiteral("1 of 4 module(s) shown"));
        QTest::keyClick(list, Qt::Key_F5);
        EXPECT_EQ(loads, 2);
        EXPECT_EQ(list->model()->rowCount(), 1);
        w.resize(700, 430);
        QTest::keyClick(list, Qt::Key_Escape);
        EXPECT_FALSE(w.isVisible());
    }
    EXPECT_FALSE(LoadGeometry(context.Settings(), IniInventoryGeometry).isEmpty());
    TInventoryWindow again(context, load, nullptr);
    again.Open();
    EXPECT_EQ(again.size(), QSize(700, 430));
}

// 10,000 modules: read from the file (on the window's inventory thread), then listed, checked and
// sorted on the window's thread. The figures are printed; the bound only catches a blow-up.
TEST(InventoryListSize, TenThousandModules) {
    QTemporaryDir dir;
    auto opened = TInventory::OpenFile(dir.filePath(QStringLiteral("varnix.db")), QString());
    ASSERT_TRUE(opened);
    std::vector<TSeenModule> seen;
    for (int i = 0; i < 10000; ++i)
        seen.push_back({QStringLiteral("02 00 00 00 %1 %2")
                            .arg(i >> 8, 2, 16, QLatin1Char('0'))
                            .arg(i & 255, 2, 16, QLatin1Char('0')),
                        i % 3 == 0 ? FamilyZ3 : FamilyZ2, 4000 + i % 50,
                        QStringLiteral("10.%1.%2.%3").arg(i >> 16).arg((i >> 8) & 255).arg(i & 255),
                        QStringLiteral("Line-%1").arg(i % 9000), QStringLiteral("10.0.0.1")});
    ASSERT_TRUE((*opened)->RecordSearch(seen));
    QElapsedTimer t;
    t.start();
    auto rows = (*opened)->Modules();
    const qint64 readMs = t.restart();
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 10000u);
    TInventoryModel model(Key);
    TInventoryFilter proxy;
    proxy.setSourceModel(&model);
    proxy.sort(TInventoryModel::ColLastSeen, Qt::DescendingOrder);
    model.SetRows(std::move(*rows));
    const qint64 listMs = t.restart();
    proxy.sort(TInventoryModel::ColFirmware, Qt::AscendingOrder);
    proxy.SetText(QStringLiteral("line-1"));
    const qint64 sortFilterMs = t.elapsed();
    std::printf(
        "10000 modules: read %lld ms (worker thread), listed with findings %lld ms, sorted by firmware "
        "and filtered %lld ms (window thread)\n",
        static_cast<long long>(readMs), static_cast<long long>(listMs), static_cast<long long>(sortFilterMs));
    EXPECT_GT(proxy.rowCount(), 0);
    EXPECT_EQ(proxy.index(0, TInventoryModel::ColFirmware).data().toInt(), 4000);
    // 1,000 "Line-<n>" names are shared by two modules each.
    int named = 0;
    for (int r = 0; r < model.rowCount(); ++r)
        named += model.index(r, TInventoryModel::ColFindings)
                     .data()
                     .toString()
                     .contains(QStringLiteral("DuplicateName"));
    EXPECT_EQ(named, 2000);
    EXPECT_LT(listMs + sortFilterMs, 5000);
}

} // namespace
