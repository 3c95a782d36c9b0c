// catalogue.h -- the updater's own texts in English, German and Russian
#pragma once

// The slots of one language's row, in table order.
enum MessageId {
    Title = 0,
    NotInstalled,
    Corrupt,
    Failed,
    Succeeded,
    ShowDetails,
    HideDetails,
    Ok,
    Cancel,
    FileInUse,  // a failure line: format with %s for the file's name and %x for the platform's code
    HeldBy,     // the line after it: format with %s for the programs that hold the file
    OtherUser,  // such a program where only another user's or session's program is known, or beside its name
    WaitingFor, // the progress window's label while a file is held: format with %s for its name
    MESSAGE_SLOTS
};

enum { CATALOGUE_LANGUAGES = 3 };

// Row language - 1 holds the texts of Language code 1 (English), 2 (German)
// or 3 (Russian): Windows-1252 for the first two, Windows-1251 for the third.
typedef const char *const MessageCatalogue[CATALOGUE_LANGUAGES][MESSAGE_SLOTS];

extern const MessageCatalogue message_catalogue;

// The text of slot id in language (1, 2 or 3). Any other language code reads
// the English row, so a look-up never leaves the table.
const char *catalogue_text(int language, MessageId id);

// The code page of language's row: 1251 for Russian, 1252 for every other
// code, which reads the English row.
unsigned catalogue_code_page(int language);
