#!/usr/bin/env bash
# Writes a large settings file with sqlite3, the same every time.
#   make_big_settings.sh FILE KEY_WATCHES MENU_ITEMS VOICE_COMMANDS STARTUP_TEXT_BYTES
# Commands come interleaved (watch, menu item, voice command, ...) with every action kind.
# Key watches use every form the matcher knows but are never held on an idle desktop; voice phrases
# are two or three dictionary words, all different.
set -euo pipefail
file=$1 watches=$2 menus=$3 voices=$4 text_bytes=$5
dict=${VORLIX_DICT:-/usr/share/pocketsphinx/model/en-us/cmudict-en-us.dict}

rm -f "$file"
words=$(awk '$1 ~ /^[a-z][a-z][a-z][a-z]+$/ && length($1) <= 8 && ++k % 97 == 0 { printf "(%d,\x27%s\x27),", n++, $1 }
              n == 400 { exit }' "$dict")
sqlite3 "$file" <<SQL
CREATE TABLE Settings ("Index" INTEGER PRIMARY KEY AUTOINCREMENT, StartupText TEXT, DeviceName TEXT,
    ListenCommand TEXT, ListenTime INTEGER, Response TEXT, ResponseListen BOOLEAN, ResponseCommand BOOLEAN);
CREATE TABLE KeyCommands ("Index" INTEGER PRIMARY KEY AUTOINCREMENT, Name TEXT, Watch TEXT, Value TEXT,
    Type TEXT, ActionType TEXT);
CREATE TEMP TABLE w (k INTEGER PRIMARY KEY, word TEXT);
INSERT INTO w VALUES ${words%,};
INSERT INTO Settings (StartupText, DeviceName, ListenCommand, ListenTime, Response, ResponseListen, ResponseCommand)
VALUES (substr(replace(hex(zeroblob($text_bytes / 2 + 64)), '00', 'All systems are ready. '), 1, $text_bytes),
        '', '', 5, 'OK', 0, 0);
WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < max($watches, $menus, $voices) * 3)
INSERT INTO KeyCommands (Name, Watch, Value, Type, ActionType)
SELECT 'Command ' || i,
    CASE i % 3
    WHEN 0 THEN CASE (i / 3) % 5
        WHEN 0 THEN '[ctrl][shift]' || char(97 + (i / 15) % 26)
        WHEN 1 THEN '[alt][f' || (1 + (i / 15) % 12) || ']'
        WHEN 2 THEN '[#' || printf('%X', 65 + (i / 15) % 26) || ']' || char(97 + (i / 7) % 26)
        WHEN 3 THEN char(97 + (i / 15) % 26) || ';[shift]' || char(97 + (i / 7) % 26)
        ELSE '[ctrl][alt]' || char(97 + (i / 15) % 26) || ';[m_play]' END
    WHEN 1 THEN 'Menu entry ' || (i / 3)
    ELSE (SELECT word FROM w WHERE w.k = (i / 3) % 400) || ' ' ||
         (SELECT word FROM w WHERE w.k = ((i / 3) / 400) % 400) ||
         CASE WHEN (i / 3) >= 160000 THEN ' ' || (SELECT word FROM w WHERE w.k = (i / 3) / 160000) ELSE '' END
    END,
    'value ' || i,
    CASE (i / 3) % 4 WHEN 0 THEN 'Send Key(s)' WHEN 1 THEN 'Execute Program' WHEN 2 THEN 'Show Message'
                     ELSE 'Say Message' END,
    CASE i % 3 WHEN 0 THEN 'Key Watch' WHEN 1 THEN 'Menu Item' ELSE 'Voice Command' END
FROM n
WHERE (i % 3 = 0 AND i / 3 < $watches) OR (i % 3 = 1 AND i / 3 < $menus) OR (i % 3 = 2 AND i / 3 < $voices);
SQL
