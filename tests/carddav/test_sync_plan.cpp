// The sync's decisions, from table rows: the cards known here (ETag and what
// their file holds), what the server says changed, and what the sync does.
#include "hostmail/carddav/SyncPlan.h"

#include <gtest/gtest.h>

using namespace hostmail::carddav;

namespace {

struct Row {
    const char *what;
    QMap<QString, KnownCard> known;
    ServerChanges server;
    bool mayDeleteMost;
    SyncPlan expected;
};

QMap<QString, KnownCard> ten(const QMap<QString, KnownCard> &plus = {})
{
    QMap<QString, KnownCard> cards;
    for (int i = 0; i < 10; ++i)
        cards.insert(QStringLiteral("/c%1").arg(i), {QStringLiteral("e%1").arg(i), Here::Same});
    for (auto it = plus.cbegin(); it != plus.cend(); ++it)
        cards.insert(it.key(), *it);
    return cards;
}

} // namespace

TEST(SyncPlan, EachRowOfTheTableGivesItsActions)
{
    const Row rows[] = {
        {"nothing changed anywhere", ten(), {}, false, {}},
        {"new and changed there are fetched",
         ten(),
         {{{"/c1", "e1b"}, {"/new", "n1"}}, {}},
         false,
         {{{"/c1", "e1b"}, {"/new", "n1"}}, {}, {}, {}, 0}},
        {"a file gone here comes back from the server",
         ten({{"/c2", {"e2", Here::Missing}}}),
         {},
         false,
         {{{"/c2", "e2"}}, {}, {}, {}, 0}},
        {"gone here and changed there: fetched at its new ETag",
         ten({{"/c2", {"e2", Here::Missing}}}),
         {{{"/c2", "e2b"}}, {}},
         false,
         {{{"/c2", "e2b"}}, {}, {}, {}, 0}},
        {"gone there: unchanged files go, missing ones are forgotten, changed ones stay",
         ten({{"/c2", {"e2", Here::Missing}}, {"/c3", {"e3", Here::Changed}}}),
         {{}, {"/c1", "/c2", "/c3"}},
         false,
         {{}, {"/c1"}, {"/c2"}, {"/c3"}, 0}},
        {"gone there is never fetched, even when listed as changed too",
         ten(),
         {{{"/c1", "e1b"}}, {"/c1"}},
         false,
         {{}, {"/c1"}, {}, {}, 0}},
        {"a card never known here that is gone there is nothing to do", ten(), {{}, {"/stranger"}}, false, {}},
        {"half of the cards gone there: deleted",
         ten(),
         {{}, {"/c0", "/c1", "/c2", "/c3", "/c4"}},
         false,
         {{}, {"/c0", "/c1", "/c2", "/c3", "/c4"}, {}, {}, 0}},
        {"most of the cards gone there: nothing done until the user agrees",
         ten(),
         {{{"/new", "n1"}}, {"/c0", "/c1", "/c2", "/c3", "/c4", "/c5"}},
         false,
         {{}, {}, {}, {}, 6}},
        {"every card gone there, and the user agreed",
         QMap<QString, KnownCard>{{"/a", {"ea", Here::Same}}, {"/b", {"eb", Here::Changed}}},
         {{}, {"/a", "/b"}},
         true,
         {{}, {"/a"}, {}, {"/b"}, 0}},
        {"one card known, and it is gone there: that is all of them",
         QMap<QString, KnownCard>{{"/a", {"ea", Here::Same}}},
         {{}, {"/a"}},
         false,
         {{}, {}, {}, {}, 1}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        const SyncPlan plan = planSync(row.known, row.server, row.mayDeleteMost);
        EXPECT_EQ(plan.fetch, row.expected.fetch);
        EXPECT_EQ(plan.remove, row.expected.remove);
        EXPECT_EQ(plan.forget, row.expected.forget);
        EXPECT_EQ(plan.keepHere, row.expected.keepHere);
        EXPECT_EQ(plan.withheld, row.expected.withheld);
    }
}
