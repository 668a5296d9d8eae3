// SPDX-License-Identifier: GPL-3.0-or-later
// Saving the notes of a disc whose index someone else renamed, moved or deleted:
// the document finds the index by its header, offers its new place or a file the
// user picks, and never leaves a companion where the index was.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "index/doc/orb_doc.h"
#include "index/index_format.h"
#include "library/store/disc_finder.h"
#include "tests/views/views_test_util.h"

namespace orb {
namespace {

using test::FileExists;
using test::TempDir;

class MovedSaveTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureViewsApp();
        ::mkdir((lib / "a").c_str(), 0755);
        ::mkdir((lib / "b").c_str(), 0755);
        test::WriteDataDisc(lib / "a/disc.orb");
        doc.SetLibraryDirectoryProvider([this] { return lib.path(); });
        doc.SetSaveFailureHandler(
            [this](const QString&, const QString& reason) { failures << reason; });
        doc.SetMovedSaveAsker([this](const MovedSaveOffer& offer) {
            offers.push_back(offer);
            MovedSaveChoice c = answers.empty() ? MovedSaveChoice{} : answers.front();
            if (!answers.empty()) answers.erase(answers.begin());
            return c;
        });
        ASSERT_TRUE(doc.OnOpenDocument(lib / "a/disc.orb"));
    }
    std::string NoteAt(const std::string& indexPath, int32_t id) {
        CIndexReader r;
        if (!r.Open(indexPath, OpenMode::ReadShareAll)) return "<no index>";
        const std::string* note = r.FindAnnotation(id);
        return note ? *note : "<none>";
    }

    TempDir lib;
    COrbDoc doc;
    std::vector<MovedSaveOffer> offers;
    std::vector<MovedSaveChoice> answers;
    QStringList failures;
};

TEST_F(MovedSaveTest, RenamedIndexIsOfferedAndTheDocumentFollowsIt) {
    doc.Index().SetAnnotation(3, "note");
    ASSERT_EQ(::rename((lib / "a/disc.orb").c_str(), (lib / "b/moved.orb").c_str()), 0);
    answers.push_back({MovedSaveChoice::BesideNewIndex, {}});
    EXPECT_TRUE(doc.SaveAnnotations(true));
    ASSERT_EQ(offers.size(), 1u);
    EXPECT_EQ(offers[0].oldPath, lib / "a/disc.orb");
    EXPECT_EQ(offers[0].newIndex, lib / "b/moved.orb");
    EXPECT_FALSE(FileExists(lib / "a/disc.orc"));
    EXPECT_EQ(NoteAt(lib / "b/moved.orb", 3), "note");
    EXPECT_EQ(doc.PathName(), lib / "b/moved.orb");
    // The next edit is saved there without a question.
    doc.Index().SetAnnotation(4, "more");
    EXPECT_TRUE(doc.SaveAnnotations(true));
    EXPECT_EQ(offers.size(), 1u);
    EXPECT_EQ(NoteAt(lib / "b/moved.orb", 4), "more");
    EXPECT_TRUE(failures.isEmpty());
}

TEST_F(MovedSaveTest, ACopyFoundByHeaderIsOfferedWhenTheOpenFileWasDeleted) {
    const std::string data = test::ReadFile(lib / "a/disc.orb");
    test::WriteFile(lib / "b/copy.orb", data);
    test::WriteDataDisc(lib / "b/other.orb", 1);  // another disc: never offered
    test::WriteFile(lib / "b/junk.orb", "not an index");
    ASSERT_EQ(::unlink((lib / "a/disc.orb").c_str()), 0);
    doc.Index().SetAnnotation(3, "note");
    EXPECT_FALSE(doc.SaveAnnotations(true));  // cancelled
    ASSERT_EQ(offers.size(), 1u);
    EXPECT_EQ(offers[0].newIndex, lib / "b/copy.orb");
    EXPECT_TRUE(doc.Index().AnnotationsChanged());  // kept for a later save
    EXPECT_FALSE(FileExists(lib / "a/disc.orc"));
    EXPECT_FALSE(FileExists(lib / "b/copy.orc"));

    // Two copies: no single answer, so only a picked file is offered.
    test::WriteFile(lib / "copy2.orb", data);
    answers.push_back({MovedSaveChoice::BesideNewIndex, {}});  // not on offer: nothing saved
    EXPECT_FALSE(doc.SaveAnnotations(true));
    ASSERT_EQ(offers.size(), 2u);
    EXPECT_EQ(offers[1].newIndex, "");
    EXPECT_FALSE(FileExists(lib / "b/copy.orc"));
    EXPECT_FALSE(FileExists(lib / "copy2.orc"));
}

TEST_F(MovedSaveTest, PickedFileNeverMakesAnOrphanOrAnotherDiscsCompanion) {
    IndexHeader disc = doc.Index().Header();
    test::WriteDataDisc(lib / "b/other.orb", 1);
    test::WriteFile(lib / "b/same.orb", test::ReadFile(lib / "a/disc.orb"));
    EXPECT_EQ(JudgePickedNotesFile(lib / "b/other.orb", disc).kind, PickedNotesFile::Refused);
    EXPECT_EQ(JudgePickedNotesFile(lib / "b/other.orc", disc).kind, PickedNotesFile::Refused);
    EXPECT_EQ(JudgePickedNotesFile(lib / "b/none.ORC", disc).kind, PickedNotesFile::Refused);
    const PickedNotesFile same = JudgePickedNotesFile(lib / "b/same.orc", disc);
    EXPECT_EQ(same.kind, PickedNotesFile::BesideIndex);
    EXPECT_EQ(same.indexPath, lib / "b/same.orb");
    EXPECT_EQ(JudgePickedNotesFile(lib / "b/notes.dat", disc).kind, PickedNotesFile::OwnFile);

    // Through the document: a refused name is said and asked again; then a file
    // of the user's own.
    doc.Index().SetAnnotation(3, "note");
    ASSERT_EQ(::unlink((lib / "b/same.orb").c_str()), 0);
    ASSERT_EQ(::unlink((lib / "a/disc.orb").c_str()), 0);
    answers.push_back({MovedSaveChoice::PickedFile, lib / "a/disc.orc"});
    answers.push_back({MovedSaveChoice::PickedFile, lib / "notes.dat"});
    EXPECT_TRUE(doc.SaveAnnotations(true));
    EXPECT_EQ(offers.size(), 2u);
    EXPECT_EQ(failures.size(), 1);
    EXPECT_FALSE(FileExists(lib / "a/disc.orc"));
    const std::string notes = test::ReadFile(lib / "notes.dat");
    EXPECT_NE(notes.find("note"), std::string::npos);
    EXPECT_FALSE(doc.Index().AnnotationsChanged());
}

TEST_F(MovedSaveTest, DefaultQuestionOffersTheNewPlace) {
    doc.SetMovedSaveAsker(nullptr);
    doc.Index().SetAnnotation(3, "note");
    ASSERT_EQ(::rename((lib / "a/disc.orb").c_str(), (lib / "b/moved.orb").c_str()), 0);
    QStringList buttons;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        for (QAbstractButton* b : box->buttons()) buttons << b->text();
        box->defaultButton()->click();
    });
    timer.start();
    EXPECT_TRUE(doc.SaveAnnotations(true));
    buttons.sort();
    QStringList expected{"保存到新位置", "另存为...", "取消"};
    expected.sort();
    EXPECT_EQ(buttons, expected);
    EXPECT_EQ(NoteAt(lib / "b/moved.orb", 3), "note");
}

// The finder alone: the open file's present name first, then the library's
// indexes of the disc by header, each file once.
TEST(FindIndexesOfDisc, KnownPathFirstThenTheLibraryByHeader) {
    TempDir lib;
    TempDir outside;
    test::WriteDataDisc(lib / "x.orb");
    test::WriteDataDisc(lib / "y.orb", 1);
    test::WriteFile(lib / "z.orb", "ORBF");
    test::WriteDataDisc(outside / "moved.orb");
    IndexHeader disc;
    ASSERT_TRUE(ProbeIndexHeader(lib / "x.orb", disc));
    EXPECT_EQ(FindIndexesOfDisc(lib.path(), disc), (std::vector<std::string>{lib / "x.orb"}));
    EXPECT_EQ(FindIndexesOfDisc(lib.path(), disc, outside / "moved.orb"),
              (std::vector<std::string>{outside / "moved.orb", lib / "x.orb"}));
    EXPECT_EQ(FindIndexesOfDisc(lib.path(), disc, lib / "x.orb"),
              (std::vector<std::string>{lib / "x.orb"}));
    EXPECT_EQ(FindIndexesOfDisc("", disc, lib / "y.orb"), std::vector<std::string>{});
}

}  // namespace
}  // namespace orb
