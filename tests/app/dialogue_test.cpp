// The message-box dialogue of the real executable, driven the way a user would: each box is
// found on screen, read, and answered by its buttons. Runs under a virtual X display.
#include <gtest/gtest.h>

#include <functional>

#include "test_support.h"

namespace ts = testing_support;

namespace {

struct Box {
    HWND window = nullptr;
    std::wstring caption;
    std::wstring text;
    bool has_cancel = false;
};

// Waits for the setup's next message box (caption "Lumivane") to appear.
std::optional<Box> wait_for_box(DWORD timeout_ms = 20000) {
    for (DWORD waited = 0; waited < timeout_ms; waited += 50) {
        if (HWND box = FindWindowW(L"#32770", L"Lumivane"); box && IsWindowVisible(box)) {
            Box found{box, {}, {}};
            wchar_t buffer[4096];
            GetWindowTextW(box, buffer, 4096);
            found.caption = buffer;
            GetDlgItemTextW(box, 0xFFFF, buffer, 4096);
            found.text = buffer;
            found.has_cancel = GetDlgItem(box, IDCANCEL) != nullptr;
            return found;
        }
        Sleep(50);
    }
    return std::nullopt;
}

void press(const Box& box, int button) { PostMessageW(box.window, WM_COMMAND, button, 0); }

// Waits until the box has gone, so the next search does not find it again.
void wait_gone(const Box& box) {
    for (int i = 0; i < 200 && IsWindow(box.window); ++i) Sleep(25);
}

std::wstring wide(const std::string& utf8) {
    std::wstring out(utf8.size(), L'\0');
    out.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(),
                                   static_cast<int>(out.size())));
    return out;
}

// The texts as users must read them, written out here apart from the program's own table.
struct Expected {
    const wchar_t* locale;
    const char* confirm;
    const char* done;
    const char* failed_before_error;
};

const std::string kAddress = LUMIVANE_SUPPORT_EMAIL;

const Expected kLanguages[] = {
    {L"en_US.UTF-8",
     "Lumivane 0.4.0 will be installed in Affinity.\n\nIt is copied to the Affinity plugins folder, with no settings "
     "to change.",
     "Lumivane is installed.\n\nRestart Affinity, select a pixel layer and choose Filters › Plugins › Orvelle › "
     "Lumivane.",
     "Lumivane could not be installed:\n\n"},
    {L"es_ES.UTF-8",
     "Se va a instalar Lumivane 0.4.0 en Affinity.\n\nSe copia en la carpeta de complementos de Affinity y no hace "
     "falta cambiar ningún ajuste.",
     "Lumivane quedó instalado.\n\nReinicia Affinity, selecciona una capa de píxeles y elige Filtros › "
     "Complementos › Orvelle › Lumivane.",
     "No se pudo instalar Lumivane:\n\n"},
    {L"pt_BR.UTF-8",
     "O Lumivane 0.4.0 será instalado no Affinity.\n\nEle é copiado para a pasta de plugins do Affinity e não é "
     "preciso mudar nenhuma configuração.",
     "O Lumivane foi instalado.\n\nReinicie o Affinity, selecione uma camada de pixels e escolha Filtros › Plugins "
     "› Orvelle › Lumivane.",
     "Não foi possível instalar o Lumivane:\n\n"},
    {L"ja_JP.UTF-8",
     "Lumivane 0.4.0 を Affinity にインストールします。\n\nAffinity のプラグインフォルダーにコピーされるので、設定を"
     "変える必要はありません。",
     "Lumivane をインストールしました。\n\nAffinity を再起動し、ピクセルレイヤーを選択して、フィルター › プラグイン › "
     "Orvelle › Lumivane を選んでください。",
     "Lumivane をインストールできませんでした:\n\n"},
    {L"id_ID.UTF-8",
     "Lumivane 0.4.0 akan dipasang di Affinity.\n\nFile disalin ke folder plugin Affinity dan tidak perlu mengubah "
     "pengaturan apa pun.",
     "Lumivane sudah terpasang.\n\nMulai ulang Affinity, pilih layer piksel, lalu buka Filters › Plugins › Orvelle "
     "› Lumivane.",
     "Lumivane tidak dapat dipasang:\n\n"},
};

std::string failed_after_error(const std::wstring& locale) {
    if (locale.starts_with(L"en")) return "\n\nWrite to " + kAddress + " and we will help you.";
    if (locale.starts_with(L"es")) return "\n\nEscríbenos a " + kAddress + " y te ayudamos.";
    if (locale.starts_with(L"pt")) return "\n\nEscreva para " + kAddress + " e nós ajudamos.";
    if (locale.starts_with(L"ja")) return "\n\n" + kAddress + " までご連絡ください。";
    return "\n\nHubungi " + kAddress + " dan kami akan membantu.";
}

// The language a run shows follows the display language Wine takes from LC_ALL when the test
// program starts (ctest runs this program once per language).
const Expected& current_language() {
    const std::wstring locale = ts::environment_variable(L"LC_ALL").value_or(L"");
    for (const Expected& language : kLanguages)
        if (locale == language.locale) return language;
    return kLanguages[0];
}

class Dialogue : public ::testing::Test {
protected:
    ts::ScratchFolder scratch;
    std::wstring folder = scratch / L"Plugins";
    std::vector<HANDLE> started;

    // No WebView2 runtime exists in the test prefix, so the window cannot come up and the
    // message boxes take its place.
    ts::Child start(const ts::EnvironmentChanges& extra = {}, const std::wstring& directory = L"") {
        ts::EnvironmentChanges changes{{L"ORVELLE_SETUP_QUIET", std::nullopt}, {L"ORVELLE_SETUP_DIR", folder}};
        for (const auto& [name, value] : extra) changes[name] = value;
        ts::Child child = ts::start_process(ts::setup_exe(), L"", changes, directory);
        HANDLE watch = nullptr;
        DuplicateHandle(GetCurrentProcess(), child.process, GetCurrentProcess(), &watch, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        started.push_back(watch);
        return child;
    }
    // Accepts the confirmation box and gives the box that follows it.
    std::optional<Box> box_after_confirming() {
        std::optional<Box> confirm = wait_for_box();
        if (!confirm) return std::nullopt;
        press(*confirm, IDOK);
        wait_gone(*confirm);
        return wait_for_box();
    }
    // A failed check must not leave a setup and its box behind for the next test.
    void TearDown() override {
        for (HANDLE process : started) {
            TerminateProcess(process, 99);
            WaitForSingleObject(process, 5000);
            CloseHandle(process);
        }
    }
};

TEST_F(Dialogue, ConfirmThenDoneInTheUsersLanguage) {
    const Expected& language = current_language();
    ts::Child child = start();
    std::optional<Box> confirm = wait_for_box();
    ASSERT_TRUE(confirm);
    EXPECT_EQ(confirm->caption, L"Lumivane");
    EXPECT_EQ(confirm->text, wide(language.confirm));
    EXPECT_TRUE(confirm->has_cancel);
    EXPECT_FALSE(ts::exists(folder)) << "nothing may be written before the user agrees";
    press(*confirm, IDOK);
    wait_gone(*confirm);

    std::optional<Box> done = wait_for_box();
    ASSERT_TRUE(done);
    EXPECT_EQ(done->text, wide(language.done));
    EXPECT_FALSE(done->has_cancel);
    EXPECT_EQ(ts::read_bytes(folder + L"\\Lumivane.8bf"), ts::module_bytes());
    // The process stays until the done box is dismissed, then ends well.
    EXPECT_EQ(WaitForSingleObject(child.process, 300), static_cast<DWORD>(WAIT_TIMEOUT));
    press(*done, IDOK);
    EXPECT_EQ(ts::wait_exit(child, 20000), 0u);
}

// With the host running the install starts the host watch: after the done box the setup stays,
// with nothing on screen, until the host has quit, then edits the preferences the host rewrote.
TEST_F(Dialogue, AfterTheDoneBoxTheSetupWaitsForTheHost) {
    const std::wstring settings = scratch / L"Settings\\PhotoshopPluginsPreferences.xml";
    const std::wstring host_exe = scratch / L"DialogueHost.exe";
    ASSERT_TRUE(CopyFileW(ts::test_binary(L"Affinity.exe").c_str(), host_exe.c_str(), FALSE));
    const std::wstring events = L"lumivane-dialogue-host-" + std::to_wstring(GetCurrentProcessId());
    const HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, (events + L"-ready").c_str());
    const HANDLE quit = CreateEventW(nullptr, TRUE, FALSE, (events + L"-quit").c_str());
    ts::Child host = ts::start_process(host_exe, events + L"-ready " + events + L"-quit \"" + settings + L"\"", {});
    started.push_back(host.process);  // ended at tear-down should a check fail first
    ASSERT_EQ(WaitForSingleObject(ready, 20000), WAIT_OBJECT_0) << "the stand-in host did not start";

    const std::wstring log = scratch / L"setup.log";
    ts::Child child = start({{L"ORVELLE_SETUP_APP", L"DialogueHost.exe"}, {L"ORVELLE_SETUP_LOG", log}});
    std::optional<Box> done = box_after_confirming();
    ASSERT_TRUE(done);
    EXPECT_EQ(done->text, wide(current_language().done));
    EXPECT_EQ(ts::read_bytes(settings).value_or("").size(), 300u) << "the install created the preferences";
    press(*done, IDOK);
    wait_gone(*done);
    EXPECT_EQ(WaitForSingleObject(child.process, 3000), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the setup ended while the host was still running";
    EXPECT_FALSE(FindWindowW(L"#32770", L"Lumivane")) << "nothing more on screen";

    // The host rewrites its preferences without the element as it quits; the setup then puts it back.
    SetEvent(quit);
    EXPECT_EQ(WaitForSingleObject(host.process, 20000), WAIT_OBJECT_0);
    EXPECT_EQ(ts::wait_exit(child, 20000), 0u);
    const std::string rewritten = ts::read_bytes(settings).value_or("");
    EXPECT_NE(rewritten.find("<Directories />\r\n\t<AllowUnknownPlugins>True</AllowUnknownPlugins>\r\n</Settings>"),
              std::string::npos)
        << rewritten;
    // The run's story in the log: the mode, the wait for the host, the second edit, the end.
    const std::string story = ts::read_bytes(log).value_or("");
    std::string::size_type at = 0;
    for (const std::string& event :
         {std::string(", window run\r\n"), std::string(" the window could not be shown: message boxes\r\n"),
          " host settings written: " + ts::utf8(settings) + "\r\n", std::string(" waiting for the host to quit\r\n"),
          std::string(" the host has quit\r\n"),
          " host settings after the host quit written: " + ts::utf8(settings) + "\r\n"}) {
        at = story.find(event, at);
        EXPECT_NE(at, std::string::npos) << event << " in order in:\n" << story;
    }
    EXPECT_TRUE(story.ends_with(" exit code 0\r\n")) << story;
    CloseHandle(ready);
    CloseHandle(quit);
}

TEST_F(Dialogue, NotConfirmingEndsWithZeroAndTouchesNothing) {
    // Cancel, Escape and the box's close button.
    const std::function<void(const Box&)> answers[] = {
        [](const Box& box) { press(box, IDCANCEL); },
        [](const Box& box) {
            SetForegroundWindow(box.window);
            HWND focus = GetDlgItem(box.window, IDOK);
            PostMessageW(focus ? focus : box.window, WM_KEYDOWN, VK_ESCAPE, 0);
            PostMessageW(focus ? focus : box.window, WM_KEYUP, VK_ESCAPE, 0);
        },
        [](const Box& box) { PostMessageW(box.window, WM_CLOSE, 0, 0); },
    };
    for (const auto& answer : answers) {
        ts::Child child = start();
        std::optional<Box> confirm = wait_for_box();
        ASSERT_TRUE(confirm);
        answer(*confirm);
        EXPECT_EQ(ts::wait_exit(child, 20000), 0u);
        EXPECT_FALSE(ts::exists(folder));
        EXPECT_FALSE(FindWindowW(L"#32770", L"Lumivane")) << "no further box after not confirming";
    }
}

TEST_F(Dialogue, FailedInstallShowsTheErrorInsideTheMessageAndEndsWithOne) {
    const Expected& language = current_language();
    ASSERT_TRUE(ts::write_bytes(scratch / L"blocker", "a file where the folder should be"));
    folder = scratch / L"blocker\\Plugins";
    const std::wstring log = scratch / L"setup.log";
    ts::Child child = start({{L"ORVELLE_SETUP_LOG", log}});
    std::optional<Box> failed = box_after_confirming();
    ASSERT_TRUE(failed);
    EXPECT_FALSE(failed->has_cancel);
    const std::wstring before = wide(language.failed_before_error);
    const std::wstring after = wide(failed_after_error(language.locale));
    ASSERT_TRUE(failed->text.starts_with(before)) << ts::utf8(failed->text);
    ASSERT_TRUE(failed->text.ends_with(after)) << ts::utf8(failed->text);
    const std::wstring error = failed->text.substr(before.size(), failed->text.size() - before.size() - after.size());
    // The error names the folder; its reason is the system's, in the system's language.
    EXPECT_TRUE(error.starts_with(folder + L": ")) << ts::utf8(error);
    EXPECT_TRUE(error.ends_with(L" (os error 183)")) << ts::utf8(error);
    if (&language == &kLanguages[0]) {
        EXPECT_EQ(ts::utf8(error), ts::utf8(folder) + ": " + ts::os_reason(ERROR_ALREADY_EXISTS));
    }
    EXPECT_EQ(WaitForSingleObject(child.process, 300), static_cast<DWORD>(WAIT_TIMEOUT));
    press(*failed, IDOK);
    EXPECT_EQ(ts::wait_exit(child, 20000), 1u);
    const std::string story = ts::read_bytes(log).value_or("");
    EXPECT_NE(story.find(" install failed: " + ts::utf8(error) + "\r\n"), std::string::npos) << story;
    EXPECT_TRUE(story.ends_with(" exit code 1\r\n")) << story;
}

TEST_F(Dialogue, UnresolvableFolderShowsItsTextAndInstallsNothing) {
    const Expected& language = current_language();
    ts::Child child = start({{L"ORVELLE_SETUP_DIR", std::nullopt}, {L"USERPROFILE", std::nullopt}}, scratch.path());
    std::optional<Box> failed = box_after_confirming();
    ASSERT_TRUE(failed);
    EXPECT_EQ(failed->text, wide(language.failed_before_error) +
                                wide("no se encontró la carpeta del usuario (USERPROFILE).") +
                                wide(failed_after_error(language.locale)));
    press(*failed, IDOK);
    EXPECT_EQ(ts::wait_exit(child, 20000), 1u);
    EXPECT_TRUE(ts::folder_names(scratch.path()).empty());
}

}  // namespace
