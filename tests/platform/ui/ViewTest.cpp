#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/ui/LongPressGestureRecognizer.h"
#include "platform/ui/ScrollView.h"
#include "tests/platform/ui/HeadlessUi.h"

namespace {

using ::testing::ElementsAre;

class ViewTest : public uitest::HeadlessUi {};

TEST_F(ViewTest, SubviewsMoveBetweenParentsAndReorder) {
    auto a = ui::View::create();
    auto b = ui::View::create();
    auto x = ui::View::create();
    auto y = ui::View::create();
    a->addSubview(x);
    a->addSubview(y);
    b->addSubview(x);  // moves
    EXPECT_EQ(a->subviews(), (std::vector<std::shared_ptr<ui::View>>{y}));
    EXPECT_EQ(x->superview(), b);

    a->addSubview(x);
    a->sendSubviewToBack(x);
    EXPECT_EQ(a->subviews(), (std::vector<std::shared_ptr<ui::View>>{x, y}));
    a->bringSubviewToFront(x);
    EXPECT_EQ(a->subviews(), (std::vector<std::shared_ptr<ui::View>>{y, x}));
    a->sendSubviewToBack(b);  // not a child: nothing happens
    EXPECT_EQ(a->subviews().size(), 2u);

    y->setTag(7);
    EXPECT_EQ(a->viewWithTag(7), y);
    EXPECT_TRUE(y->isDescendantOfView(*a));
    y->removeFromSuperview();
    EXPECT_EQ(y->superview(), nullptr);
    EXPECT_EQ(a->viewWithTag(7), nullptr);
}

TEST_F(ViewTest, ChildrenOutliveAParentThatGoes) {
    auto child = ui::View::create();
    {
        auto parent = ui::View::create();
        parent->addSubview(child);
    }
    EXPECT_EQ(child->superview(), nullptr);
}

struct AutoresizeCase {
    unsigned mask;
    ui::Rect before;
    ui::Rect after;  // when the 100 x 100 parent becomes 200 x 300
};

class Autoresizing : public ViewTest, public ::testing::WithParamInterface<AutoresizeCase> {};

TEST_P(Autoresizing, FollowsTheMask) {
    auto parent = ui::View::create({0, 0, 100, 100});
    auto child = ui::View::create(GetParam().before);
    child->setAutoresizingMask(GetParam().mask);
    parent->addSubview(child);
    parent->setFrame({0, 0, 200, 300});
    EXPECT_EQ(child->frame(), GetParam().after) << ui::toString(child->frame());
}

INSTANTIATE_TEST_SUITE_P(
    Masks, Autoresizing,
    ::testing::Values(
        AutoresizeCase{ui::kAutoresizingNone, {10, 10, 20, 20}, {10, 10, 20, 20}},
        AutoresizeCase{ui::kAutoresizingFlexibleWidth | ui::kAutoresizingFlexibleHeight,
                       {0, 0, 100, 100},
                       {0, 0, 200, 300}},
        // A bottom bar: flexible width and top margin keeps its height, sticks to the bottom.
        AutoresizeCase{ui::kAutoresizingFlexibleWidth | ui::kAutoresizingFlexibleTopMargin,
                       {0, 56, 100, 44},
                       {0, 256, 200, 44}},
        // Centred: the change is shared by both margins in proportion to them.
        AutoresizeCase{ui::kAutoresizingFlexibleLeftMargin | ui::kAutoresizingFlexibleRightMargin,
                       {40, 0, 20, 10},
                       {90, 0, 20, 10}},
        // A strip under the status bar: flexible width and bottom margin.
        AutoresizeCase{ui::kAutoresizingFlexibleWidth | ui::kAutoresizingFlexibleBottomMargin,
                       {0, 0, 100, 20},
                       {0, 0, 200, 20}}));

TEST_F(ViewTest, AutoresizingCanBeTurnedOffAndReachesGrandchildren) {
    auto parent = ui::View::create({0, 0, 100, 100});
    auto child = ui::View::create({0, 0, 100, 100});
    auto grandchild = ui::View::create({0, 0, 100, 100});
    for (auto& v : {child, grandchild}) {
        v->setAutoresizingMask(ui::kAutoresizingFlexibleWidth | ui::kAutoresizingFlexibleHeight);
    }
    parent->addSubview(child);
    child->addSubview(grandchild);
    parent->setFrame({0, 0, 50, 60});
    EXPECT_EQ(grandchild->frame(), ui::Rect(0, 0, 50, 60));
    parent->setAutoresizesSubviews(false);
    parent->setFrame({0, 0, 10, 10});
    EXPECT_EQ(child->frame(), ui::Rect(0, 0, 50, 60));
}

TEST_F(ViewTest, BoundsAndCenterKeepEachOther) {
    auto v = ui::View::create({10, 20, 100, 50});
    EXPECT_EQ(v->bounds(), ui::Rect(0, 0, 100, 50));
    EXPECT_EQ(v->center(), (ui::Point{60, 45}));
    v->setBounds({0, 0, 20, 10});
    EXPECT_EQ(v->frame(), ui::Rect(50, 40, 20, 10));
    v->setCenter({0, 0});
    EXPECT_EQ(v->frame(), ui::Rect(-10, -5, 20, 10));
}

TEST_F(ViewTest, AnimationsApplyAtOnceAreRecordedAndCompleteNextTurn) {
    auto v = ui::View::create();
    v->setAlpha(0);
    std::vector<bool> finished;
    ui::View::animate(
        0.25, 0.5, 2, [&] { v->setAlpha(1); }, [&](bool done) { finished.push_back(done); });
    ui::View::animate(1.0, [&] { v->setHidden(true); });
    EXPECT_EQ(v->alpha(), 1.0);
    EXPECT_TRUE(v->isHidden());
    EXPECT_TRUE(finished.empty());
    loop().runUntilIdle();
    EXPECT_THAT(finished, ElementsAre(true));
    const auto& recorded = ui::View::recordedAnimations();
    ASSERT_EQ(recorded.size(), 2u);
    EXPECT_EQ(recorded[0].duration, 0.25);
    EXPECT_EQ(recorded[0].delay, 0.5);
    EXPECT_EQ(recorded[0].options, 2u);
    EXPECT_EQ(recorded[1].duration, 1.0);
}

TEST_F(ViewTest, GestureRecognizerFiresOnlyInAViewAndWhenEnabled) {
    std::vector<ui::GestureRecognizer::State> states;
    auto press = std::make_shared<ui::LongPressGestureRecognizer>(
        [&](ui::GestureRecognizer& g) { states.push_back(g.state()); });
    EXPECT_EQ(press->minimumPressDuration(), 0.5);
    press->fire();
    EXPECT_TRUE(states.empty()) << "not in a view";

    auto view = ui::View::create();
    view->addGestureRecognizer(press);
    EXPECT_EQ(press->view(), view);
    press->fire();
    EXPECT_THAT(states, ElementsAre(ui::GestureRecognizer::State::Began,
                                    ui::GestureRecognizer::State::Ended));
    press->setEnabled(false);
    press->fire();
    EXPECT_EQ(states.size(), 2u);

    auto other = ui::View::create();
    other->addGestureRecognizer(press);  // moves
    EXPECT_TRUE(view->gestureRecognizers().empty());
    other->removeGestureRecognizer(press);
    EXPECT_EQ(press->view(), nullptr);
}

TEST(Geometry, TextFormsPrintShortNumbers) {
    EXPECT_EQ(ui::toString(ui::Rect(0, 20.5, 390, -0.0)), "{{0, 20.5}, {390, 0}}");
    EXPECT_EQ(ui::toString(ui::Point{0.1, 1e20}), "{0.1, 1e+20}");
}

}  // namespace
