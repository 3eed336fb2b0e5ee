#include "languages.h"

#include <windows.h>

#include "embedded.h"

namespace {

// The failure texts name the support address, which the build supplies.
constexpr SetupTexts kEnglish{
    "Lumivane {v} will be installed in Affinity.\n\n"
    "It is copied to the Affinity plugins folder, with no settings to change.",
    "Lumivane is installed.\n\n"
    "Restart Affinity, select a pixel layer and choose Filters \u203A Plugins \u203A Orvelle \u203A Lumivane.",
    "Lumivane could not be installed:\n\n{e}\n\nWrite to " LUMIVANE_SUPPORT_EMAIL " and we will help you.",
};

constexpr SetupTexts kSpanish{
    "Se va a instalar Lumivane {v} en Affinity.\n\n"
    "Se copia en la carpeta de complementos de Affinity y no hace falta cambiar ning\u00FAn ajuste.",
    "Lumivane qued\u00F3 instalado.\n\n"
    "Reinicia Affinity, selecciona una capa de p\u00EDxeles y elige "
    "Filtros \u203A Complementos \u203A Orvelle \u203A Lumivane.",
    "No se pudo instalar Lumivane:\n\n{e}\n\nEscr\u00EDbenos a " LUMIVANE_SUPPORT_EMAIL " y te ayudamos.",
};

constexpr SetupTexts kPortuguese{
    "O Lumivane {v} ser\u00E1 instalado no Affinity.\n\n"
    "Ele \u00E9 copiado para a pasta de plugins do Affinity e n\u00E3o \u00E9 preciso mudar nenhuma "
    "configura\u00E7\u00E3o.",
    "O Lumivane foi instalado.\n\n"
    "Reinicie o Affinity, selecione uma camada de pixels e escolha "
    "Filtros \u203A Plugins \u203A Orvelle \u203A Lumivane.",
    "N\u00E3o foi poss\u00EDvel instalar o Lumivane:\n\n{e}\n\nEscreva para " LUMIVANE_SUPPORT_EMAIL
    " e n\u00F3s ajudamos.",
};

constexpr SetupTexts kJapanese{
    "Lumivane {v} を Affinity にインストールします。\n\n"
    "Affinity のプラグインフォルダーにコピーされるので、設定を変える必要はありません。",
    "Lumivane をインストールしました。\n\n"
    "Affinity を再起動し、ピクセルレイヤーを選択して、フィルター \u203A プラグイン \u203A Orvelle \u203A Lumivane "
    "を選んでください。",
    "Lumivane をインストールできませんでした:\n\n{e}\n\n" LUMIVANE_SUPPORT_EMAIL " までご連絡ください。",
};

constexpr SetupTexts kIndonesian{
    "Lumivane {v} akan dipasang di Affinity.\n\n"
    "File disalin ke folder plugin Affinity dan tidak perlu mengubah pengaturan apa pun.",
    "Lumivane sudah terpasang.\n\n"
    "Mulai ulang Affinity, pilih layer piksel, lalu buka Filters \u203A Plugins \u203A Orvelle \u203A Lumivane.",
    "Lumivane tidak dapat dipasang:\n\n{e}\n\nHubungi " LUMIVANE_SUPPORT_EMAIL " dan kami akan membantu.",
};

}  // namespace

std::string_view ui_language_code(UiLanguage language) {
    switch (language) {
        case UiLanguage::Spanish: return "es";
        case UiLanguage::Portuguese: return "pt";
        case UiLanguage::Japanese: return "ja";
        case UiLanguage::Indonesian: return "id";
        case UiLanguage::English: break;
    }
    return "en";
}

UiLanguage ui_language_from_langid(unsigned short langid) {
    switch (langid & 0x3FF) {
        case 0x0A: return UiLanguage::Spanish;
        case 0x16: return UiLanguage::Portuguese;
        case 0x11: return UiLanguage::Japanese;
        case 0x21: return UiLanguage::Indonesian;
        default: return UiLanguage::English;
    }
}

UiLanguage choose_ui_language() { return ui_language_from_langid(GetUserDefaultUILanguage()); }

const SetupTexts& setup_texts_for(UiLanguage language) {
    switch (language) {
        case UiLanguage::Spanish: return kSpanish;
        case UiLanguage::Portuguese: return kPortuguese;
        case UiLanguage::Japanese: return kJapanese;
        case UiLanguage::Indonesian: return kIndonesian;
        case UiLanguage::English: break;
    }
    return kEnglish;
}

std::string fill_placeholder(std::string_view text, std::string_view placeholder, std::string_view value) {
    if (placeholder.empty()) return std::string(text);
    std::string out;
    out.reserve(text.size() + value.size());
    size_t from = 0;
    for (size_t at = text.find(placeholder); at != std::string_view::npos; at = text.find(placeholder, from)) {
        out.append(text.substr(from, at - from));
        out.append(value);
        from = at + placeholder.size();
    }
    out.append(text.substr(from));
    return out;
}
