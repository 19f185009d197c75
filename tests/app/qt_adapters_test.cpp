#include "qt_main_loop.h"
#include "qt_settings.h"
#include "support/test_support.h"

#include <QCoreApplication>
#include <QTest>
#include <gtest/gtest.h>
#include <thread>

using namespace strata;
using namespace std::chrono_literals;

TEST(QtSettings, BooleansStoredAsTextReadBackAsBooleans) {
    strata::testing::TempDir dir;
    const QString path = QString::fromStdString((dir.path() / "Strata.conf").string());
    {
        QtSettings s(path);
        s.setBool("showModeChooserAtStartup", false);
        s.setString("strataMode", "pro");
        s.setBytes("strataAdvanceTrigger", Bytes{'{', '}'});
        s.setString("weird", "maybe");
        s.sync();
    }
    QtSettings s(path); // a fresh instance reads the INI text back
    EXPECT_EQ(s.boolValue("showModeChooserAtStartup"), std::optional<bool>(false));
    EXPECT_EQ(s.boolValue("weird"), std::nullopt);
    EXPECT_EQ(s.boolValue("absent"), std::nullopt);
    EXPECT_EQ(s.stringValue("strataMode"), std::optional<std::string>("pro"));
    EXPECT_EQ(s.bytesValue("strataAdvanceTrigger"), std::optional<Bytes>(Bytes{'{', '}'}));
    s.remove("strataMode");
    EXPECT_FALSE(s.contains("strataMode"));
}

TEST(QtMainLoop, PostsFromAnotherThreadRunOnTheMainThreadInOrder) {
    QtMainLoop loop;
    std::vector<int> order;
    const auto mainThread = std::this_thread::get_id();
    bool allOnMain = true;
    std::thread producer([&] {
        for (int i = 0; i < 50; ++i)
            loop.post([&, i] {
                allOnMain = allOnMain && std::this_thread::get_id() == mainThread;
                order.push_back(i);
            });
    });
    producer.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return order.size() == 50; }));
    EXPECT_TRUE(allOnMain);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(order[i], i);
}

TEST(QtMainLoop, DroppedTimerNeverFiresAndRepeatingTimerStopsItself) {
    QtMainLoop loop;
    int dropped = 0, repeats = 0, oneShot = 0;
    auto h = loop.after(1ms, [&] { ++dropped; });
    h.reset();
    TimerHandle rep;
    rep = loop.every(1ms, [&] {
        if (++repeats == 3)
            rep.reset();
    });
    auto last = loop.after(20ms, [&] { ++oneShot; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return oneShot == 1 && !rep; }));
    EXPECT_EQ(dropped, 0);
    EXPECT_EQ(repeats, 3);
}
