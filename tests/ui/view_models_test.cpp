// The view models over the real core objects, on virtual time, for what the QML tests cannot see
// well: the words the editors build from the document and the setup guide's step lists, what the
// list models tell the views when rows change (a change of section tells them about the position
// and the mix and nothing else; the setlist pane's song rows follow the set by inserting, removing
// and moving rows, never by a reset, so that the row of a song being renamed keeps its place and
// its text field the keyboard), the lights' timers and their signal counts, the map folder on disk,
// the band remote's setup, and the cue area with the time sources (a DAW's clock source sends into
// the in-memory MIDI system).

#include "editor_texts.h"
#include "row_list_model.h"
#include "setup_guide_content.h"
#include "support/records.h"
#include "support/timeline_session.h"
#include "ui_rig.h"
#include "ui_text.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QUrl>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

namespace strata::testing {
namespace {

// ---- Texts -------------------------------------------------------------------------------------

// A badge click and the momentary arrow are seen in the grid's QML test; here, the cycle, the last
// step's badge, which holds whatever the step stores, and a jump chip without a device.
TEST(EditorTexts, BadgesCycleTwoFourEightTheLastHoldsAndJumpChipsNameTheirControl) {
    using B = std::optional<std::int64_t>;
    const std::pair<B, B> cases[] = {
        {std::nullopt, 2}, {2, 4}, {4, 8}, {8, std::nullopt}, {3, 2}, {0, 2}, {-4, 2}, {16, 2}};
    for (const auto& [from, to] : cases)
        EXPECT_EQ(editor::nextAdvanceBars(from), to) << (from ? *from : -1);
    SectionStep step = SectionStep::fresh();
    step.advanceBars = 4;
    EXPECT_EQ(editor::stepBadge(step, false).text, "4 bars \u2192");
    const auto last = editor::stepBadge(step, true);
    EXPECT_EQ(last.text, "hold");
    EXPECT_FALSE(last.clickable);
    EXPECT_EQ(editor::jumpChipText({"FCB1010", AdvanceTrigger::Kind::cc, 7}),
              "Jumps here from FCB1010 CC 7");
    EXPECT_EQ(editor::jumpChipText({"", AdvanceTrigger::Kind::note, 64}), "Jumps here from N 64");
}

TEST(EditorTexts, MomentSummaries) {
    std::vector<Layer> layers;
    strata::testing::growTo(layers, 3);
    layers[0].name = "Pad";
    layers[1].name = "Keys";
    layers[2].name = "Bass";
    Layer other = Layer::fresh(); // not on the card: never named
    other.name = "Choir";

    struct Case {
        FireAnchor anchor;
        UuidSet unmute, mute;
        int patches, ccs;
        const char* text;
    };
    // clang-format off
    const Case cases[] = {
        {FireAnchor::onSectionEnter(), {}, {}, 0, 0, "Fires when this section starts."},
        {FireAnchor::manual(), {}, {}, 1, 0, "Fires when you trigger it by hand \u2014 1 patch change."},
        {FireAnchor::barsBeforeSectionEnd(2), {layers[0].id}, {}, 0, 0,
         "Fires 2 bars before this section ends \u2014 swell Pad in."},
        {FireAnchor::barsAfterStart(1), {}, {layers[1].id, layers[2].id, other.id}, 0, 1,
         "Fires 1 bar after this section starts \u2014 mute Keys, Bass out, 1 effect send."},
        {FireAnchor::barsBeforeSectionEnd(4), {layers[2].id}, {layers[0].id}, 2, 3,
         "Fires 4 bars before this section ends \u2014 swell Bass in, mute Pad out, 2 patch changes, 3 effect sends."},
    };
    // clang-format on
    for (const Case& c : cases) {
        Moment moment = Moment::fresh();
        moment.anchor = c.anchor;
        moment.unmuteLayerIDs = c.unmute;
        moment.muteLayerIDs = c.mute;
        moment.programChanges.resize(static_cast<std::size_t>(c.patches));
        moment.ccSends.resize(static_cast<std::size_t>(c.ccs));
        EXPECT_EQ(editor::momentSummary(moment, layers), c.text);
    }
}

// The setup guide's step lists for every host and mode: how many steps each has, that they name
// the host the user picked, and that the port names of the running MIDI system reach the steps
// that point the DAW at them. The wording itself is the sheet's business, not the tests'.
std::string allText(const std::vector<GuideStep>& steps) {
    std::string text;
    for (const auto& step : steps)
        text += step.title + "\n" + step.detail + "\n";
    return text;
}

bool mentions(const std::vector<GuideStep>& steps, const std::string& quoted) {
    return allText(steps).find("\"" + quoted + "\"") != std::string::npos;
}

const GuidePorts kOnePortPerSurface; // ALSA and the in-memory system
const GuidePorts kSeparateFeedback{{"Strata", "Strata feedback"},
                                   {"Strata XT", "Strata XT feedback"}};

TEST(SetupGuide, StepsPerHostAndModeNameTheHostAndTheRunningSystemsPorts) {
    struct Case {
        HostChoice host;
        ModeChoice mode;
        std::size_t count;
        const char* hostName; // as the steps call it
        bool namesPorts;      // the steps point the DAW at Strata's ports
    };
    for (const Case& c : {
             Case{HostChoice::logic, ModeChoice::ccMute, 5, "Logic", false},
             Case{HostChoice::mainStage, ModeChoice::ccMute, 5, "MainStage", false},
             Case{HostChoice::ardour, ModeChoice::ccMute, 5, "Ardour", true},
             Case{HostChoice::logic, ModeChoice::mackie, 6, "Logic", true},
             Case{HostChoice::mainStage, ModeChoice::mackie, 6, "MainStage", true},
             Case{HostChoice::ardour, ModeChoice::mackie, 6, "Ardour", true},
         }) {
        for (const GuidePorts& ports : {kOnePortPerSurface, kSeparateFeedback}) {
            const bool separate = ports.main.dawOutput != ports.main.dawInput;
            SCOPED_TRACE(std::string(rawValue(c.host)) + " / " + std::string(rawValue(c.mode)) +
                         (separate ? ", separate feedback ports" : ", one port per surface"));
            const auto steps = guideSteps(c.host, c.mode, ports);
            ASSERT_EQ(steps.size(), c.count);
            for (const auto& step : steps) {
                EXPECT_FALSE(step.title.empty());
                EXPECT_FALSE(step.detail.empty());
            }
            EXPECT_NE(allText(steps).find(c.hostName), std::string::npos);
            for (const HostChoice other : allHostChoices) {
                if (other != c.host && other != HostChoice::logic) {
                    EXPECT_EQ(allText(steps).find(rawValue(other)), std::string::npos)
                        << "names " << rawValue(other);
                }
            }
            EXPECT_EQ(mentions(steps, "Strata"), c.namesPorts);
            // Feedback goes to its own port only where the system has one; the CC walk on Ardour
            // reads the main port's feedback, the surfaces read their own.
            EXPECT_EQ(mentions(steps, "Strata feedback"), c.namesPorts && separate);
            const bool extender = c.mode == ModeChoice::mackie;
            EXPECT_EQ(mentions(steps, "Strata XT"), extender);
            EXPECT_EQ(mentions(steps, "Strata XT feedback"), extender && separate);

            // On PipeWire one last step says where the ports appear; only the Mackie surfaces
            // answer back.
            GuidePorts onPipeWire = ports;
            onPipeWire.pipeWire = true;
            const auto withLast = guideSteps(c.host, c.mode, onPipeWire);
            ASSERT_EQ(withLast.size(), steps.size() + 1);
            EXPECT_TRUE(std::equal(steps.begin(), steps.end(), withLast.begin()));
            const std::vector<GuideStep> last{withLast.back()};
            EXPECT_NE(allText(last).find("PipeWire"), std::string::npos);
            EXPECT_TRUE(mentions(last, "Strata"));
            EXPECT_EQ(mentions(last, "Strata feedback"), extender && separate);
        }
    }
    EXPECT_NE(modeDescription(HostChoice::ardour, ModeChoice::ccMute),
              modeDescription(ModeChoice::ccMute))
        << "Ardour loads a map instead of learning";
    EXPECT_EQ(modeDescription(HostChoice::ardour, ModeChoice::mackie),
              modeDescription(ModeChoice::mackie));
    for (const HostChoice host : allHostChoices) {
        EXPECT_NE(closingLine(host).find(rawValue(host)), std::string::npos);
        EXPECT_NE(allText(clockSteps(host)).find(rawValue(host)), std::string::npos);
    }
    EXPECT_FALSE(linkSteps().empty());
}

// ---- Models ------------------------------------------------------------------------------------

// A returning user's window on screen, in Pro, over the demo set as read at launch (nothing to
// undo), with a DAW's clock source plugged in: the coordinator has sent the first mute state, and
// the lights it lit have gone dark again.
class ViewModels : public ::testing::Test {
protected:
    ViewModels() {
        rig.settings.setBool(LiveCoordinator::kShowModeChooserKey, false);
        rig.settings.setBool(LiveCoordinator::kHasSeenQuickStartKey, true);
        rig.app->setSetlist(UiRig::demoSet());
        rig.app->setMode(StrataMode::pro);
        daw = rig.midi.addSource("DAW Clock");
        rig.midi.notifySetupChanged();
        rig.settle();
        rig.models->appState.undo()->clear();
        rig.models->shell.mainViewAppeared();
        rig.advance(seconds(5));
    }
    UiModels& ui() { return *rig.models; }
    CueModel& cue() { return rig.models->cue; }
    static QVariantMap at(const RowListModel* list, int i) { return list->get(i); }
    // MIDI clock bytes from the DAW, each after a clock tick's time at `bpm`.
    void send(std::uint8_t status, int times = 1, double bpm = 124) {
        for (int i = 0; i < times; ++i) {
            rig.advance(std::chrono::microseconds(static_cast<long>(60.0e6 / bpm / 24 + 0.5)));
            rig.midi.sendFromSource(daw, {{status}});
            rig.settle();
        }
    }
    UiRig rig;
    MidiRef daw = 0;
};

TEST_F(ViewModels, LayerRowsInMackieModeAndTheDawNames) {
    auto& editor = ui().layerEditor;
    while (rig.app->setlist().layers.size() < 10)
        editor.addLayer();
    EXPECT_EQ(editor.layers()->count(), 10);
    EXPECT_FALSE(editor.canUseDawNames());

    ui().live.setControlMode("mackieControl");
    rig.settle();
    EXPECT_TRUE(editor.mackieMode());
    EXPECT_EQ(at(editor.layers(), 0)["track"], "TRK 1");
    EXPECT_EQ(at(editor.layers(), 8)["track"], "XT 9");
    EXPECT_EQ(at(editor.layers(), 0)["dawLine"],
              QStringLiteral("waiting for DAW track name\u2026"));
    EXPECT_FALSE(editor.canUseDawNames());

    rig.service->mackieSlotNames.set({{0, "Pno"}, {2, "Pad 2"}, {3, ""}});
    EXPECT_TRUE(editor.canUseDawNames());
    EXPECT_EQ(at(editor.layers(), 0)["dawLine"], "DAW: Pno");
    editor.useDawNames();
    const auto& layers = rig.app->setlist().layers;
    EXPECT_EQ(layers[0].name, "Pno");
    EXPECT_EQ(layers[1].name, "Poly");
    EXPECT_EQ(layers[2].name, "Pad 2");
    EXPECT_EQ(layers[3].name, "Lead"); // an empty name read back changes nothing

    ui().live.setControlMode("ccMute");
    rig.settle();
    EXPECT_FALSE(editor.canUseDawNames());
    EXPECT_EQ(at(editor.layers(), 0)["track"], "");
}

// Every notification a list model gave, in the order given, as text: "changed 1 b",
// "inserted 2-3", "removed 1-1", "reset".
class ListSpy {
public:
    explicit ListSpy(QAbstractItemModel& model) {
        const auto names = model.roleNames();
        QObject::connect(
            &model, &QAbstractItemModel::dataChanged,
            [this, names](const QModelIndex& from, const QModelIndex& to, const QList<int>& roles) {
                QString line = QStringLiteral("changed %1").arg(from.row());
                if (to.row() != from.row())
                    line += QStringLiteral("-%1").arg(to.row());
                for (int role : roles)
                    line += QStringLiteral(" ") + QString::fromLatin1(names[role]);
                events << line;
            });
        const auto rows = [this](const char* what) {
            return [this, what](const QModelIndex&, int first, int last) {
                events << QStringLiteral("%1 %2-%3").arg(what).arg(first).arg(last);
            };
        };
        QObject::connect(&model, &QAbstractItemModel::rowsInserted, rows("inserted"));
        QObject::connect(&model, &QAbstractItemModel::rowsRemoved, rows("removed"));
        QObject::connect(&model, &QAbstractItemModel::modelReset,
                         [this] { events << QStringLiteral("reset"); });
    }
    QStringList events;
};

TEST(RowListModel, TellsTheViewsOnlyWhatChanged) {
    using Rows = std::vector<RowListModel::Row>;
    const Rows start{{"x", 1}, {"y", 2}, {"z", 3}};
    struct Case {
        const char* name;
        Rows next;
        QStringList events;
    };
    const std::vector<Case> cases{
        {"the same rows", start, {}},
        {"one value", {{"x", 1}, {"y", 5}, {"z", 3}}, {"changed 1 b"}},
        {"two roles of a row", {{"x", 1}, {"y", 2}, {"w", 4}}, {"changed 2 a b"}},
        {"a row more", {{"x", 1}, {"y", 2}, {"z", 3}, {"v", 4}}, {"inserted 3-3"}},
        {"the first row gone",
         {{"y", 2}, {"z", 3}},
         {"changed 0 a b", "changed 1 a b", "removed 2-2"}},
        {"all gone", {}, {"removed 0-2"}},
        {"a list of lists", {{"x", QVariantList{true}}, {"y", 2}, {"z", 3}}, {"changed 0 b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RowListModel model({"a", "b"});
        model.update(start);
        ListSpy spy(model);
        QSignalSpy counts(&model, &RowListModel::countChanged);
        model.update(c.next);
        EXPECT_EQ(spy.events, c.events);
        EXPECT_EQ(counts.count(), c.next.size() == start.size() ? 0 : 1);
        ASSERT_EQ(model.count(), static_cast<int>(c.next.size()));
        for (int i = 0; i < model.count(); ++i) {
            const auto& row = c.next[static_cast<std::size_t>(i)];
            EXPECT_EQ(model.data(model.index(i), Qt::UserRole + 1), row[0]);
            EXPECT_EQ(model.get(i).value("b"), row[1]);
        }
    }
}

TEST_F(ViewModels, ASectionChangeMovesThePositionAndTheMixOnly) {
    ListSpy sections(*ui().grid.sections());
    ListSpy columns(*ui().grid.columns());
    ListSpy layers(*ui().appState.layers());
    ListSpy moments(*ui().liveMoments.moments());
    QSignalSpy gridSong(&ui().grid, &SectionGridModel::songChanged);
    QSignalSpy gridPosition(&ui().grid, &SectionGridModel::positionChanged);
    QSignalSpy set(&ui().appState, &AppStateModel::setChanged);
    QSignalSpy song(&ui().appState, &AppStateModel::songChanged);
    QSignalSpy position(&ui().appState, &AppStateModel::positionChanged);
    QSignalSpy mix(&ui().appState, &AppStateModel::mixChanged);

    // The intro plays the piano alone; the first verse adds the poly synth, the lead and the choir.
    rig.app->advance();
    rig.settle();
    EXPECT_EQ(ui().grid.currentSection(), 1);
    EXPECT_EQ(sections.events, QStringList());
    EXPECT_EQ(columns.events, QStringList());
    EXPECT_EQ(moments.events, QStringList());
    EXPECT_EQ(layers.events,
              QStringList({"changed 1 playing", "changed 3 playing", "changed 5 playing"}));
    EXPECT_EQ(gridPosition.count(), 1);
    EXPECT_EQ(position.count(), 1);
    EXPECT_EQ(mix.count(), 1);
    EXPECT_EQ(gridSong.count() + set.count() + song.count(), 0);

    // The chorus and the second verse both play everything: the position moves twice, the mix
    // once.
    rig.app->advance();
    rig.app->advance();
    rig.settle();
    EXPECT_EQ(position.count(), 3);
    EXPECT_EQ(mix.count(), 2);

    // An edit changes its own section's row and nothing else.
    sections.events.clear();
    const Section& verse = rig.app->currentSong()->sections.at(1);
    rig.app->toggleLayer(rig.app->setlist().layers.at(0).id, verse.id, 0);
    rig.settle();
    EXPECT_EQ(sections.events, QStringList({"changed 1 rows"}));
    EXPECT_EQ(set.count(), 0);

    // Another song: the header follows, and the rows become the new song's.
    sections.events.clear();
    rig.app->setCurrentSongIndex(1);
    rig.settle();
    EXPECT_EQ(gridSong.count(), 1);
    EXPECT_EQ(song.count(), 1);
    EXPECT_EQ(ui().grid.sections()->count(), 5);
    EXPECT_EQ(ui().grid.sections()->get(2).value("name"), "Pre-Chorus");
    EXPECT_EQ(sections.events.last(), "removed 5-6");
}

// The setlist pane's song rows, as the list shows them (name and section count), against the set.
TEST_F(ViewModels, SongRowsFollowEveryKindOfChangeWithoutAReset) {
    QAbstractItemModel& rows = *rig.models->setlist.songs();
    const auto roles = rows.roleNames();
    const int nameRole = roles.key("name"), countRole = roles.key("sectionCount");
    const auto shown = [&] {
        std::vector<std::pair<QString, int>> out;
        for (int i = 0; i < rows.rowCount(); ++i)
            out.emplace_back(rows.data(rows.index(i, 0), nameRole).toString(),
                             rows.data(rows.index(i, 0), countRole).toInt());
        return out;
    };
    const auto inTheSet = [&] {
        std::vector<std::pair<QString, int>> out;
        for (const Song& song : rig.app->setlist().songs)
            out.emplace_back(QString::fromStdString(song.name),
                             static_cast<int>(song.sections.size()));
        return out;
    };
    // Aborts the test on any inconsistent signal sequence.
    QAbstractItemModelTester tester(&rows, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy resets(&rows, &QAbstractItemModel::modelReset);
    SetlistModel& pane = rig.models->setlist;
    UndoModel& undo = *rig.models->appState.undo();

    const std::vector<std::pair<const char*, std::function<void()>>> changes = {
        {"add", [&] { pane.addSong(); }},
        {"move down", [&] { pane.moveSongDown(0); }},
        {"move up", [&] { pane.moveSongUp(5); }},
        {"delete", [&] { pane.deleteSong(2); }},
        {"import", [&] { pane.importSetlist("X\nx1\n\nY", false); }},
        {"add section", [&] { rig.app->addSection(); }},
        {"rename", [&] { pane.renameSong(2, "Harbour Song (slow)"); }},
        {"undo", [&] { undo.undo(); }},
        {"undo again", [&] { undo.undo(); }},
        {"redo", [&] { undo.redo(); }},
        {"same song twice",
         [&] {
             rig.app->updateSetlist([](Setlist& set) {
                 set.songs.push_back(set.songs.front());
                 set.songs.back().name = "Twin";
                 return true;
             });
         }},
        {"twins swap", [&] { pane.moveSongUp(rows.rowCount() - 1); }},
        {"replace", [&] { pane.importSetlist("Only\na", true); }},
        {"new set", [&] { pane.newSet(); }},
        {"delete the last", [&] { pane.deleteSong(0); }},
        {"undo all",
         [&] {
             while (undo.canUndo())
                 undo.undo();
         }},
    };
    for (const auto& [what, change] : changes) {
        change();
        EXPECT_EQ(shown(), inTheSet()) << what;
    }
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(shown().size(), 5u);
}

TEST_F(ViewModels, MapFolderIsTheNewestArdoursMidiMapsOrTheConfigurationFolder) {
    QStandardPaths::setTestModeEnabled(true);
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    QDir(config + "/ardour7").removeRecursively();
    QDir(config + "/ardour10").removeRecursively();
    ASSERT_TRUE(QDir().mkpath(config));
    EXPECT_EQ(ui().live.ardourMapFolder(), QUrl::fromLocalFile(config));

    ASSERT_TRUE(QDir().mkpath(config + "/ardour7"));
    ASSERT_TRUE(QDir().mkpath(config + "/ardour10"));
    // By version number, not by name; the folder is made when Ardour has not made it yet.
    EXPECT_EQ(ui().live.ardourMapFolder(), QUrl::fromLocalFile(config + "/ardour10/midi_maps"));
    EXPECT_TRUE(QDir(config + "/ardour10/midi_maps").exists());
    QDir(config + "/ardour7").removeRecursively();
    QDir(config + "/ardour10").removeRecursively();
    QStandardPaths::setTestModeEnabled(false);
}

// The MIDI light goes dark 400 ms after the last byte out, the DAW light 3 s after the last
// feedback, each new stamp counting from its own time; while dark, no timer runs.
TEST_F(ViewModels, LightsGoDarkAfterTheirTimeAndNoTimerRunsWhileDark) {
    QSignalSpy changes(&ui().midi, &MidiModel::lightsChanged);
    EXPECT_FALSE(ui().midi.midiLit());
    EXPECT_FALSE(ui().midi.lightTimerArmed());

    rig.service->noteTx();
    rig.service->noteMackieRx();
    rig.settle();
    EXPECT_TRUE(ui().midi.midiLit());
    EXPECT_TRUE(ui().midi.dawLit());
    EXPECT_TRUE(ui().midi.lightTimerArmed());
    rig.advance(std::chrono::milliseconds(399));
    EXPECT_TRUE(ui().midi.midiLit());
    rig.advance(std::chrono::milliseconds(1));
    EXPECT_FALSE(ui().midi.midiLit());

    rig.advance(std::chrono::milliseconds(1600));
    rig.service->noteMackieRx();
    rig.settle();
    rig.advance(seconds(2.9));
    EXPECT_TRUE(ui().midi.dawLit()) << "the second stamp counts from its own time";
    rig.advance(seconds(0.1));
    EXPECT_FALSE(ui().midi.dawLit());
    EXPECT_FALSE(ui().midi.lightTimerArmed());
    EXPECT_EQ(changes.count(), 4); // each light lit once and dark once

    // Idle: a minute passes without a single re-evaluation.
    rig.advance(seconds(60));
    EXPECT_EQ(changes.count(), 4);
}

TEST_F(ViewModels, BandRemoteSheetEditsTheSetupAndDrawsTheLinkAsAQrCode) {
    RemoteModel& remote = ui().remote;
    EXPECT_FALSE(remote.webEnabled());
    EXPECT_TRUE(remote.viewerLink().endsWith(QString::fromStdString(rig.remoteHub->viewerToken())));
    // A version 3 or larger code, square, with the finder pattern's dark corner.
    ASSERT_GE(remote.qrSize(), 29);
    ASSERT_EQ(remote.qrModules().size(), remote.qrSize() * remote.qrSize());
    EXPECT_TRUE(remote.qrModules().front().toBool());
    const auto before = remote.qrModules();

    QSignalSpy changed(&remote, &RemoteModel::changed);
    remote.setWebEnabled(true);
    remote.setWebPort(80); // below what a user may open: the lowest usable port
    remote.setOscAllowed(QStringLiteral("127.0.0.1, stage-pc  10.0.0.2,"));
    EXPECT_GE(changed.count(), 3);
    const RemoteConfig config = rig.remoteHub->config();
    EXPECT_TRUE(config.webEnabled);
    EXPECT_EQ(config.webPort, 1024);
    EXPECT_EQ(config.oscAllowed, (std::vector<std::string>{"127.0.0.1", "10.0.0.2"}));
    EXPECT_EQ(remote.oscAllowed(), QStringLiteral("127.0.0.1, 10.0.0.2"));

    // A new link draws a new code.
    remote.renewLink();
    EXPECT_NE(remote.qrModules(), before);
}

// A hardware port on JACK is numbered afresh at every plug-in; the set keeps its device, as a
// learned trigger does, and follows its clock under the new number.
TEST_F(ViewModels, AChosenSourceIsStoredAsItsDeviceAndFollowedUnderANewNumber) {
    const MidiRef first = rig.midi.addSource("system:midi_capture_3");
    rig.midi.setAliases(first, {"alsa_pcm:FCB1010/midi_capture_1"});
    rig.midi.notifySetupChanged();
    rig.settle();
    cue().setTimeSource(QStringLiteral("midiClock"));
    cue().setClockDevice(QStringLiteral("system:midi_capture_3"));
    rig.settle();
    EXPECT_EQ(rig.app->setlist().clockDevice, "alsa_pcm:FCB1010/midi_capture_1");
    EXPECT_EQ(cue().clockDevice(), QStringLiteral("system:midi_capture_3"));

    rig.midi.removeEndpoint(first);
    rig.midi.addSource("system:midi_capture_3"); // another device took the old number
    daw = rig.midi.addSource("system:midi_capture_1");
    rig.midi.setAliases(daw, {"alsa_pcm:FCB1010/midi_capture_1"});
    rig.midi.notifySetupChanged();
    rig.settle();
    EXPECT_EQ(cue().clockDevice(), QStringLiteral("system:midi_capture_1"));
    send(0xFA);
    send(0xF8, 48);
    EXPECT_TRUE(cue().connected());
    EXPECT_EQ(cue().caption(), QStringLiteral("CLOCK \u00B7 124 BPM"));
}

// The cue caption for each time source: Cadenzo's host, the clock's state and tempo, Link's peers,
// state and tempo; leaving a source brings Cadenzo back as it was.
TEST_F(ViewModels, CaptionShowsEachTimeSourcesStateAndTempo) {
    rig.cueHello("FOH-Mac");
    QSignalSpy connection(&cue(), &CueModel::connectionChanged);
    rig.cueHello("FOH-Mac");
    EXPECT_EQ(connection.count(), 0) << "a repeated greeting changes nothing on screen";
    EXPECT_EQ(cue().caption(), QStringLiteral("CUE \u00B7 FOH-Mac"));
    EXPECT_FALSE(cue().clockSource());
    EXPECT_TRUE(cue().clockDevices().contains(QStringLiteral("DAW Clock")));

    QSignalSpy sourceChanges(&cue(), &CueModel::sourceChanged);
    cue().setTimeSource(QStringLiteral("midiClock"));
    cue().setClockDevice(QStringLiteral("DAW Clock"));
    rig.settle();
    EXPECT_TRUE(cue().clockSource());
    EXPECT_EQ(cue().clockDevice(), QStringLiteral("DAW Clock"));
    EXPECT_GE(sourceChanges.count(), 2);
    EXPECT_EQ(rig.app->setlist().clockDevice, "DAW Clock");

    TimelineSession session(rig.loop);
    const auto link = [&] {
        cue().setTimeSource(QStringLiteral("link"));
        rig.settle();
        EXPECT_TRUE(cue().linkSource());
        EXPECT_FALSE(cue().clockSource());
        EXPECT_EQ(rig.app->setlist().timeSource, TimeSource::link);
    };
    struct Row {
        const char* name;
        std::function<void()> act;
        const char* caption;
        bool connected;
    };
    const std::vector<Row> rows{
        {"nothing heard", [] {}, "CLOCK \u00B7 OFFLINE", false},
        {"clocks while stopped", [&] { send(0xF8, 30); }, "CLOCK \u00B7 STOPPED \u00B7 124 BPM",
         true},
        {"playing", [&] { send(0xFA), send(0xF8, 48); }, "CLOCK \u00B7 124 BPM", true},
        {"a new tempo, one beat on", [&] { send(0xF8, 24, 90); }, "CLOCK \u00B7 90 BPM", true},
        {"two seconds of silence", [&] { rig.advance(std::chrono::seconds(2)); },
         "CLOCK \u00B7 OFFLINE", false},
        // No session to join (no platform session given): offline.
        {"Link without a session", link, "LINK \u00B7 OFFLINE", false},
        {"alone", [&] { rig.live->setBeatSession(&session); },
         "LINK \u00B7 0 peers \u00B7 STOPPED \u00B7 120 BPM", true},
        {"one peer", [&] { session.setPeers(1); },
         "LINK \u00B7 1 peer \u00B7 STOPPED \u00B7 120 BPM", true},
        {"Link playing", [&] { session.startAt(0); }, "LINK \u00B7 1 peer \u00B7 120 BPM", true},
        {"three peers, a new tempo",
         [&] {
             session.setPeers(3);
             session.setTempo(96.4);
         },
         "LINK \u00B7 3 peers \u00B7 96 BPM", true},
    };
    for (const Row& row : rows) {
        row.act();
        rig.settle();
        EXPECT_EQ(cue().caption(), QString::fromUtf8(row.caption)) << row.name;
        EXPECT_EQ(cue().connected(), row.connected) << row.name;
    }

    cue().setTimeSource(QStringLiteral("cadenzo"));
    cue().setTimeSource(QStringLiteral("ltc")); // not a source here: ignored
    rig.settle();
    EXPECT_EQ(cue().caption(), QStringLiteral("CUE \u00B7 FOH-Mac"));
    EXPECT_FALSE(rig.app->setlist().timeSource);
    EXPECT_FALSE(cue().linkSource());
    EXPECT_FALSE(session.enabled());
    rig.live->setBeatSession(nullptr);
}

} // namespace
} // namespace strata::testing
