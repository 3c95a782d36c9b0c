// catalogue.cpp -- the message table, byte for byte in each language's code page
#include "catalogue.h"

// The Russian OK button reads the very same text as the English one.
static const char ok_text[] = "OK";

// One text per line, as the table reads; the split strings keep a hex escape
// from running into the letters behind it.
// clang-format off
const MessageCatalogue message_catalogue = {
    /* English */ {
        /* Title */ "Ostrevan Update 1.02",
        /* NotInstalled */ "Ostrevan is not installed on your system!\r\nPlease install the game and then run this update.\n",
        /* Corrupt */ "Previous Ostrevan installation is corrupt!\r\nPlease re-install the game and then run this update.\n",
        /* Failed */ "Ostrevan update failed!\nPress \"Show Details\" to see more information about the error.",
        /* Succeeded */ "Ostrevan succesfully updated to version 1.02!\nPlease press \"OK\" to start the game or \"Show Details\" to see more information about the update.",
        /* ShowDetails */ "Show Details >>",
        /* HideDetails */ "<< Hide Details",
        /* Ok */ ok_text,
        /* Cancel */ "Cancel",
        /* FileInUse */ "File In Use: %s [%x]\r\nPlease close the game and every program that may be using this file, then run this update again.\n",
        /* HeldBy */ "Programs using this file: %s\n",
        /* OtherUser */ "another user's program",
        /* WaitingFor */ "Waiting for %s",
    },
    /* German */ {
        /* Title */ "Ostrevan - Aktualisierung 1.02",
        /* NotInstalled */ "Ostrevan ist auf Ihrem System nicht installiert!\r\nBitte installieren Sie erst das Spiel und starten Sie dann diese Aktualisierung.\n",
        /* Corrupt */ "Die bisherige 'Ostrevan'-Installation ist fehlerhaft!\r\nBitte installieren Sie das Spiel neu und starten Sie dann diese Aktualisierung.\n",
        /* Failed */ "Aktualisierung von Ostrevan fehlgeschlagen!\nKlicken Sie auf \"Einzelheiten\", um mehr \xfc" "ber diesen Fehler zu erfahren.",
        /* Succeeded */ "Ostrevan erfolgreich auf Version 1.02 aktualisiert!\nKlicken Sie auf \"O. K.\", um das Spiel zu starten, oder auf \"Einzelheiten\", um mehr \xfc" "ber diese Aktualisierung zu erfahren.",
        /* ShowDetails */ "Einzelheiten >>",
        /* HideDetails */ "<< Einzelheiten ausblenden",
        /* Ok */ "O. K.",
        /* Cancel */ "Abbrechen",
        /* FileInUse */ "Datei wird verwendet: %s [%x]\r\nBitte beenden Sie das Spiel und alle Programme, die diese Datei verwenden k\xf6nnten, und starten Sie dann diese Aktualisierung erneut.\n",
        /* HeldBy */ "Programme, die diese Datei verwenden: %s\n",
        /* OtherUser */ "Programm eines anderen Benutzers",
        /* WaitingFor */ "Warten auf %s",
    },
    /* Russian */ {
        /* Title */ "\xce\xe1\xed\xee\xe2\xeb\xe5\xed\xe8\xe5 \xe8\xe3\xf0\xfb 'Ostrevan', \xe2\xe5\xf0\xf1\xe8\xff 1.02",
        /* NotInstalled */ "\xc8\xe3\xf0\xe0 'Ostrevan' \xed\xe5 \xf3\xf1\xf2\xe0\xed\xee\xe2\xeb\xe5\xed\xe0 \xed\xe0 \xe2\xe0\xf8\xe5\xec \xea\xee\xec\xef\xfc\xfe\xf2\xe5\xf0\xe5!\r\n\xd3\xf1\xf2\xe0\xed\xee\xe2\xe8\xf2\xe5 \xe8\xe3\xf0\xf3, \xef\xee\xf1\xeb\xe5 \xf7\xe5\xe3\xee \xe7\xe0\xef\xf3\xf1\xf2\xe8\xf2\xe5 \xee\xe1\xed\xee\xe2\xeb\xe5\xed\xe8\xe5.\n",
        /* Corrupt */ "\xc8\xe3\xf0\xe0 'Ostrevan' \xef\xee\xe2\xf0\xe5\xe6\xe4\xe5\xed\xe0!\r\n\xcf\xe5\xf0\xe5\xf3\xf1\xf2\xe0\xed\xee\xe2\xe8\xf2\xe5 \xe8\xe3\xf0\xf3, \xef\xee\xf1\xeb\xe5 \xf7\xe5\xe3\xee \xe7\xe0\xef\xf3\xf1\xf2\xe8\xf2\xe5 \xee\xe1\xed\xee\xe2\xeb\xe5\xed\xe8\xe5.\n",
        /* Failed */ "\xcf\xf0\xee\xe8\xe7\xe2\xe5\xf1\xf2\xe8 \xee\xe1\xed\xee\xe2\xeb\xe5\xed\xe8\xe5 \xe8\xe3\xf0\xfb 'Ostrevan' \xed\xe5 \xf3\xe4\xe0\xeb\xee\xf1\xfc!\n\xcd\xe0\xe6\xec\xe8\xf2\xe5 \"\xcf\xee\xe4\xf0\xee\xe1\xed\xe5\xe5\", \xf7\xf2\xee\xe1\xfb \xef\xee\xeb\xf3\xf7\xe8\xf2\xfc \xe4\xee\xef\xee\xeb\xed\xe8\xf2\xe5\xeb\xfc\xed\xf3\xfe \xe8\xed\xf4\xee\xf0\xec\xe0\xf6\xe8\xfe \xee\xe1 \xee\xf8\xe8\xe1\xea\xe5.",
        /* Succeeded */ "\xc8\xe3\xf0\xe0 'Ostrevan' \xe1\xfb\xeb\xe0 \xf3\xf1\xef\xe5\xf8\xed\xee \xee\xe1\xed\xee\xe2\xeb\xe5\xed\xe0 \xe4\xee \xe2\xe5\xf0\xf1\xe8\xe8 1.02!\n\xcd\xe0\xe6\xec\xe8\xf2\xe5 \"OK\", \xf7\xf2\xee\xe1\xfb \xed\xe0\xf7\xe0\xf2\xfc \xe8\xe3\xf0\xf3, \xe8\xeb\xe8 \"\xcf\xee\xe4\xf0\xee\xe1\xed\xe5\xe5\", \xf7\xf2\xee\xe1\xfb \xef\xee\xeb\xf3\xf7\xe8\xf2\xfc \xe4\xee\xef\xee\xeb\xed\xe8\xf2\xe5\xeb\xfc\xed\xf3\xfe \xe8\xed\xf4\xee\xf0\xec\xe0\xf6\xe8\xfe \xee\xe1 \xee\xe1\xed\xee\xe2\xeb\xe5\xed\xe8\xe8.",
        /* ShowDetails */ "\xcf\xee\xe4\xf0\xee\xe1\xed\xe5\xe5>>",
        /* HideDetails */ "<< \xd1\xea\xf0\xfb\xf2\xfc",
        /* Ok */ ok_text,
        /* Cancel */ "\xce\xf2\xec\xe5\xed\xe0",
        /* FileInUse */ "\xd4\xe0\xe9\xeb \xe7\xe0\xed\xff\xf2: %s [%x]\r\n\xc7\xe0\xea\xf0\xee\xe9\xf2\xe5 \xe8\xe3\xf0\xf3 \xe8 \xe2\xf1\xe5 \xef\xf0\xee\xe3\xf0\xe0\xec\xec\xfb, \xea\xee\xf2\xee\xf0\xfb\xe5 \xec\xee\xe3\xf3\xf2 \xe8\xf1\xef\xee\xeb\xfc\xe7\xee\xe2\xe0\xf2\xfc \xfd\xf2\xee\xf2 \xf4\xe0\xe9\xeb, \xe0 \xe7\xe0\xf2\xe5\xec \xf1\xed\xee\xe2\xe0 \xe7\xe0\xef\xf3\xf1\xf2\xe8\xf2\xe5 \xee\xe1\xed\xee\xe2\xeb\xe5\xed\xe8\xe5.\n",
        /* HeldBy */ "\xcf\xf0\xee\xe3\xf0\xe0\xec\xec\xfb, \xe8\xf1\xef\xee\xeb\xfc\xe7\xf3\xfe\xf9\xe8\xe5 \xfd\xf2\xee\xf2 \xf4\xe0\xe9\xeb: %s\n",
        /* OtherUser */ "\xef\xf0\xee\xe3\xf0\xe0\xec\xec\xe0 \xe4\xf0\xf3\xe3\xee\xe3\xee \xef\xee\xeb\xfc\xe7\xee\xe2\xe0\xf2\xe5\xeb\xff",
        /* WaitingFor */ "\xce\xe6\xe8\xe4\xe0\xed\xe8\xe5 \xf4\xe0\xe9\xeb\xe0 %s",
    },
};
// clang-format on

unsigned catalogue_code_page(int language)
{
    return language == 3 ? 1251 : 1252;
}

const char *catalogue_text(int language, MessageId id)
{
    if (language < 1 || language > CATALOGUE_LANGUAGES)
        language = 1;
    if (id < 0 || id >= MESSAGE_SLOTS)
        id = Title;
    return message_catalogue[language - 1][id];
}
