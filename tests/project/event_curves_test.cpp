#include "project/event_curves.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "project/fixed_text.h"

namespace korvel {
namespace {

TEST(EventCurves, ShapeCurvePeaksAndHalves) {
    CurvePoints curve{};
    ShapeCurve(curve, 0.5f, 0.0f, 1.0f);
    EXPECT_NEAR(curve[0], 0.0f, 1e-6f);
    EXPECT_NEAR(curve[255], 0.0f, 1e-6f);
    const auto top = std::max_element(curve.begin(), curve.end()) - curve.begin();
    EXPECT_TRUE(top == 127 || top == 128);
    EXPECT_FLOAT_EQ(curve[127], curve[128]);
    EXPECT_LT(curve[127], 1.0f);
    EXPECT_GT(curve[127], 0.99f);

    ShapeCurve(curve, 0.0f, 0.2f, 0.6f);
    EXPECT_FLOAT_EQ(curve[0], 0.6f);
    EXPECT_NEAR(curve[255], 0.2f, 1e-6f);
    EXPECT_TRUE(std::is_sorted(curve.rbegin(), curve.rend())) << "p = 0 falls all the way";

    ShapeCurve(curve, 1.5f, 0.0f, 1.0f);  // clamped to 1
    EXPECT_NEAR(curve[0], 0.0f, 1e-6f);
    EXPECT_FLOAT_EQ(curve[255], 1.0f);
    EXPECT_TRUE(std::is_sorted(curve.begin(), curve.end())) << "p = 1 rises all the way";
}

TEST(EventCurves, RandomSpikesAreRepeatableSpikesOverAFloor) {
    CurvePoints a{}, b{}, c{};
    RandomSpikeCurve(a, 0.2f, 0.9f, 42);
    RandomSpikeCurve(b, 0.2f, 0.9f, 42);
    RandomSpikeCurve(c, 0.2f, 0.9f, 43);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    const auto spikes = std::count_if(a.begin(), a.end(), [](float v) { return v > 0.2f; });
    EXPECT_GT(spikes, 50);
    EXPECT_LT(spikes, 110);
    EXPECT_FLOAT_EQ(*std::min_element(a.begin(), a.end()), 0.2f);
    EXPECT_LE(*std::max_element(a.begin(), a.end()), 0.9f);
}

TEST(EventCurves, CurvesByKind) {
    struct Case {
        const char* name;
        EventKind kind;
        float flatWeight;     // < 0: not flat
        float flatIntensity;  // < 0: not flat
    };
    const Case cases[] = {
        {"Spot: weight centre, 0.65", EventKind::Spot, 0.3f, 0.65f},
        {"Bloom: peak at the sync point", EventKind::Bloom, 0.5f, -1.0f},
        {"Contour", EventKind::Contour, 0.5f, 0.5f},
        {"Fill", EventKind::Fill, 0.5f, 0.5f},
        {"Scatter: spikes", EventKind::Scatter, -1.0f, -1.0f},
        {"Clip", EventKind::Clip, 0.5f, 1.0f},
        {"Bed", EventKind::Bed, 0.5f, 1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CurvePoints weight{}, intensity{};
        BuildShapeCurves(KindValue(c.kind), 0.3f, 0.5f, weight, intensity, 0.25f);
        auto flat = [](const CurvePoints& curve, float value) {
            return std::all_of(curve.begin(), curve.end(), [&](float v) { return v == value; });
        };
        if (c.flatWeight >= 0) {
            EXPECT_TRUE(flat(weight, c.flatWeight));
        }
        if (c.flatIntensity >= 0) {
            EXPECT_TRUE(flat(intensity, c.flatIntensity));
        }
    }

    CurvePoints weight{}, intensity{};
    BuildShapeCurves(KindValue(EventKind::Bloom), 0.3f, 0.5f, weight, intensity, 0.25f);
    EXPECT_EQ(std::max_element(intensity.begin(), intensity.end()) - intensity.begin(), 64);

    // Scatter: two events from the same centre and spread are identical, and
    // the weight spikes stay within centre - 0.2 spread .. centre + 0.3 spread.
    CurvePoints weight2{}, intensity2{};
    BuildShapeCurves(KindValue(EventKind::Scatter), 0.5f, 0.4f, weight, intensity, 0.5f);
    BuildShapeCurves(KindValue(EventKind::Scatter), 0.5f, 0.4f, weight2, intensity2, 0.5f);
    EXPECT_EQ(weight, weight2);
    EXPECT_EQ(intensity, intensity2);
    EXPECT_FLOAT_EQ(*std::min_element(weight.begin(), weight.end()), 0.42f);
    EXPECT_LE(*std::max_element(weight.begin(), weight.end()), 0.62f + 1e-6f);
    EXPECT_FLOAT_EQ(*std::min_element(intensity.begin(), intensity.end()), 0.15f);

    BuildShapeCurves(99, 0.7f, 0.5f, weight, intensity, 0.5f);
    EXPECT_EQ(weight[100], 0.7f);
    EXPECT_EQ(intensity[100], 0.5f);
}

TEST(EventCurves, DefaultIntensityFollowsTheSyncPointOnlyWhenAutomatic) {
    Event event;
    event.duration = 2.0f;
    event.syncOffset = 1.5f;
    event.EnsureDefaultIntensityCurve();
    EXPECT_EQ(std::max_element(event.intensity.begin(), event.intensity.end()) - event.intensity.begin(), 191);

    event.duration = 0.0f;  // no length: the peak goes to the middle
    event.EnsureDefaultIntensityCurve();
    EXPECT_FLOAT_EQ(event.intensity[127], event.intensity[128]);

    for (auto keep : {+[](Event& e) { e.userShapeIdx = 0; }, +[](Event& e) { e.intensityMode = 1; }}) {
        Event drawn;
        drawn.duration = 2.0f;
        drawn.intensity.fill(0.33f);
        keep(drawn);
        drawn.EnsureDefaultIntensityCurve();
        EXPECT_EQ(drawn.intensity[0], 0.33f);
    }
}

Event MakeEvent(EventKind kind, const char* keywords = "") {
    Event event;
    event.shape = KindValue(kind);
    event.weight.fill(0.5f);
    CopyText(event.keywords, keywords);
    return event;
}

TEST(EventNames, TitlesAndLabels) {
    Project project;
    UserShape shape;
    CopyText(shape.name, "Slow Swell");
    project.userShapes.push_back(shape);

    struct Case {
        const char* name;
        const char* keywords;
        int32_t userShape;
        std::string title;
        std::string label;
    };
    const Case cases[] = {
        {"signed words skipped", "+metal impact, -wood heavy door", -1, "Impact Heavy Door", "Bloom"},
        {"one word", "glass", -1, "Glass", "Bloom"},
        {"at most three words", "a b c d", -1, "A B C", "Bloom"},
        {"only signed words: user shape", "+metal", 0, "Slow Swell", "Slow Swell"},
        {"only signed words: kind", "+metal", -1, "Bloom", "Bloom"},
        {"user shape index out of range", "", 3, "Bloom", "Bloom"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Event event = MakeEvent(EventKind::Bloom, c.keywords);
        event.userShapeIdx = c.userShape;
        EXPECT_EQ(project.EventTitle(event), c.title);
        EXPECT_EQ(EventDisplayLabel(project, event), c.label);
    }

    // A title never grows past 62 characters, and a full title takes no blank.
    Event event = MakeEvent(EventKind::Bloom);
    const std::string longKeywords = std::string(100, 'x') + " second";
    CopyText(event.keywords, longKeywords);
    EXPECT_EQ(std::string(project.EventTitle(event)), "X" + std::string(61, 'x'));
}

TEST(EventNames, FourTitlesStayValidTogether) {
    Project project;
    const Event events[] = {MakeEvent(EventKind::Spot, "one"), MakeEvent(EventKind::Spot, "two"),
                            MakeEvent(EventKind::Spot, "three"), MakeEvent(EventKind::Spot, "four")};
    const char* titles[4];
    for (int i = 0; i < 4; ++i) titles[i] = project.EventTitle(events[i]);
    EXPECT_STREQ(titles[0], "One");
    EXPECT_STREQ(titles[3], "Four");
}

TEST(EventNames, ProposedNames) {
    struct Case {
        const char* name;
        Event event;
        std::set<std::string> recipes;
        std::string expected;
    };
    auto with = [](Event event, auto change) {
        change(event);
        return event;
    };
    std::set<std::string> everyRainForestBed = {"Rain Forest Bed"};
    for (int n = 2; n <= 99; ++n) everyRainForestBed.insert("Rain Forest Bed " + std::to_string(n));
    const Event rainForest = with(MakeEvent(EventKind::Bed), [](Event& e) {
        e.pinnedFiles = {"/sfx/Rain_Loop_01.wav", "C:\\sfx\\Forest Night.wav", "/sfx/Wind.wav"};
    });

    const Case cases[] = {
        {"flat Spot", MakeEvent(EventKind::Spot), {}, "Body Spot"},
        {"flat Scatter is a wave", MakeEvent(EventKind::Scatter), {}, "Body Wave"},
        {"bed from its file names", rainForest, {}, "Rain Forest Bed"},
        {"bed name taken", rainForest, {"Rain Forest Bed", "Rain Forest Bed 2"}, "Rain Forest Bed 3"},
        {"every bed name taken", rainForest, everyRainForestBed, "Body Bed"},
        {"bed files without usable words",
         with(MakeEvent(EventKind::Bed), [](Event& e) { e.pinnedFiles = {"/a/01_st.wav", "/a/Mix2.wav"}; }), {},
         "Body Bed"},
        {"bed words are not repeated",
         with(MakeEvent(EventKind::Bed), [](Event& e) { e.pinnedFiles = {"/a/rain rain heavy.wav"}; }), {},
         "Rain Heavy Bed"},
        {"name taken gets a number", MakeEvent(EventKind::Spot), {"Body Spot"}, "Body Spot 2"},
        {"keywords, at most two, cut at a slash", MakeEvent(EventKind::Spot, "+big METAL/steel door, hinge"), {},
         "Body Metal Door"},
        {"dynamic weight", with(MakeEvent(EventKind::Spot), [](Event& e) { e.weight[10] = 0.9f; }), {},
         "Dynamic Spot"},
        {"offset moves the tone", with(MakeEvent(EventKind::Spot), [](Event& e) { e.weightOffset = 0.3f; }), {},
         "Air Spot"},
        {"offset clamps", with(MakeEvent(EventKind::Spot), [](Event& e) { e.weightOffset = -0.9f; }), {},
         "Sub Spot"},
        {"deep", with(MakeEvent(EventKind::Spot), [](Event& e) { e.weight.fill(0.2f); }), {}, "Deep Spot"},
        {"category of the palette filter",
         with(MakeEvent(EventKind::Spot), [](Event& e) { CopyText(e.libFilter, "Glass Breaks Vol 2"); }), {},
         "Body Crash"},
        {"recipe name without its tone word",
         with(MakeEvent(EventKind::Spot), [](Event& e) { CopyText(e.presetName, "Deep Thunder Roll"); }), {},
         "Body Thunder Roll"},
        {"longest filter word",
         with(MakeEvent(EventKind::Spot), [](Event& e) { CopyText(e.libFilter, "The Vendor_Qx Library"); }), {},
         "Body Vendor"},
        {"no palette filter marker",
         with(MakeEvent(EventKind::Fill), [](Event& e) { CopyText(e.libFilter, "~none~"); }), {}, "Body Fill"},
        {"only filler words", with(MakeEvent(EventKind::Bloom), [](Event& e) { CopyText(e.libFilter, "SFX Pack"); }),
         {}, "Body Bloom"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char name[64];
        c.event.AutoName(name, sizeof name,
                      [&](std::string_view candidate) { return c.recipes.contains(std::string(candidate)); });
        EXPECT_EQ(std::string(name), c.expected);
    }

    char small[6];
    MakeEvent(EventKind::Spot).AutoName(small, sizeof small);
    EXPECT_STREQ(small, "Body ");
}

}  // namespace
}  // namespace korvel
