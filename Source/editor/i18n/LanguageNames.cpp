#include "editor/i18n/LanguageNames.h"

namespace {

// Display names of the interface languages, each in its own language and script, in language-index order.
// The index is the choice index of the "language" parameter and the row of every text table.
constexpr const char* languageNames[tolmar::languageCount] = {
    "Español (Argentina)", // 0
    "Español (España)", // 1
    "English", // 2
    "Русский", // 3
    "Latine", // 4
    "日本語", // 5
    "Italiano", // 6
    "Français", // 7
    "Deutsch", // 8
    "Nederlands", // 9
    "中文（简体）", // 10
    "中文（繁體）", // 11
    "Português (Brasil)", // 12
    "Português (Portugal)", // 13
    "Català", // 14
    "Euskara", // 15
    "Avañe'ẽ", // 16
    "Runa Simi", // 17
    "普通话", // 18
    "粵語", // 19
    "한국어", // 20
    "Acholi", // 21
    "Qafar", // 22
    "Afrikaans", // 23
    "shqip", // 24
    "Alur", // 25
    "አማርኛ", // 26
    "العربية", // 27
    "հայերեն", // 28
    "azərbaycan", // 29
    "bamanakan", // 30
    "Baɔlɛ .", // 31
    "Batak Simalungun", // 32
    "беларуская", // 33
    "বাংলা", // 34
    "Betawi", // 35
    "Bikol", // 36
    "bosanski", // 37
    "brezhoneg", // 38
    "български", // 39
    "буряад", // 40
    "Cebuano", // 41
    "Chamorro", // 42
    "Chichewa", // 43
    "чӑваш чӗлхи", // 44
    "Corsu", // 45
    "hrvatski", // 46
    "čeština", // 47
    "dansk", // 48
    "Dombe", // 49
    "Diyula", // 50
    "Esperanto", // 51
    "eesti", // 52
    "eʋegbe", // 53
    "Filipino", // 54
    "suomi", // 55
    "Fɔn", // 56
    "français canadien", // 57
    "Frysk", // 58
    "galego", // 59
    "ქართული", // 60
    "Ελληνικά", // 61
    "ગુજરાતી", // 62
    "Kreyòl ayisyen", // 63
    "Hakha Chin", // 64
    "Hausa", // 65
    "ʻŌlelo Hawaiʻi", // 66
    "עברית", // 67
    "Hiligaynon", // 68
    "हिन्दी", // 69
    "hmoob", // 70
    "magyar", // 71
    "íslenska", // 72
    "Ilocano", // 73
    "Indonesia", // 74
    "Gaeilge", // 75
    "Jawa", // 76
    "ಕನ್ನಡ", // 77
    "Kapampangan", // 78
    "қазақ тілі", // 79
    "ខ្មែរ", // 80
    "कोंकणी", // 81
    "Krio, we de na di wɔl", // 82
    "kurdî (kurmancî)", // 83
    "کوردیی ناوەندی", // 84
    "кыргызча", // 85
    "ລາວ", // 86
    "Latgalīšu .", // 87
    "latviešu", // 88
    "Limburges", // 89
    "lingála", // 90
    "lietuvių", // 91
    "Luganda", // 92
    "Lëtzebuergesch", // 93
    "македонски", // 94
    "Bhâsa Madhurâ", // 95
    "Makassar", // 96
    "Malagasy", // 97
    "Melayu", // 98
    "ملايو ﴿جاوي﴾", // 99
    "മലയാളം", // 100
    "Mam", // 101
    "Māori", // 102
    "मराठी", // 103
    "Ri-Ṃajeḷ", // 104
    "kreol morisien", // 105
    "Луговой марий", // 106
    "Mizo", // 107
    "монгол", // 108
    "Nahuatl (Huasteca Oriental)", // 109
    "IsiNdebele (Sewula)", // 110
    "नेपाली", // 111
    "norsk", // 112
    "occitan", // 113
    "Oromoo", // 114
    "ирон", // 115
    "Pangasinan", // 116
    "Papiamentu", // 117
    "پښتو", // 118
    "فارسی", // 119
    "polski", // 120
    "ਪੰਜਾਬੀ (ਗੁਰਮੁਖੀ)", // 121
    "Romani", // 122
    "română", // 123
    "davvisámegiella", // 124
    "Samoa", // 125
    "संस्कृत भाषा", // 126
    "Gàidhlig", // 127
    "Sesotho sa Leboa", // 128
    "Sesotho", // 129
    "سنڌي", // 130
    "සිංහල", // 131
    "slovenčina", // 132
    "slovenščina", // 133
    "Soomaali", // 134
    "Basa Sunda", // 135
    "Kiswahili", // 136
    "svenska", // 137
    "тоҷикӣ", // 138
    "தமிழ்", // 139
    "తెలుగు", // 140
    "Tetum .", // 141
    "ไทย", // 142
    "བོད་སྐད་", // 143
    "ትግርኛ", // 144
    "Tok Pisin", // 145
    "lea fakatonga", // 146
    "Tshiluba", // 147
    "Vatsonga", // 148
    "Türkçe", // 149
    "Тыва", // 150
    "Akan", // 151
    "Удмурт", // 152
    "українська", // 153
    "o‘zbek", // 154
    "veneto", // 155
    "Tiếng Việt", // 156
    "Cymraeg", // 157
    "IsiXhosa", // 158
    "саха тыла", // 159
    "Èdè Yorùbá", // 160
    "Maaya Yucateca", // 161
    "isiZulu", // 162
    "बर’", // 163
    "dolnoserbšćina", // 164
    "छत्तीसगढ़ी", // 165
    "hornjoserbšćina", // 166
    "Inuinnaqtun", // 167
    "Hmoob Daw", // 168
    "Hingar ñhöñhö", // 169
    "tlhIngan Hol (latin)", // 170
    "العربية المصرية", // 171
    "norsk nynorsk", // 172
    "sardu", // 173
    "srpski (latinica)", // 174
    "ייִדיש", // 175
};

} // namespace

namespace tolmar {

const char* languageName(int index)
{
    return languageNames[index < 0 ? 0 : (index >= languageCount ? languageCount - 1 : index)];
}

} // namespace tolmar

juce::StringArray tolmarLanguages()
{
    juce::StringArray names;
    for (const char* name : languageNames)
        names.add(juce::String::fromUTF8(name));
    return names;
}
