// What the window sessions share: a small program that writes a string through a procedure,
// reads a key and a line and ends, and typing into the user screen as a person types.
#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <QTest>
#include <QTimer>

// Line numbers in the comments: the tests name them.
inline const char* const kSessionProgram =
    "DATA    SEGMENT\r\n"                  // 1
    "MSG     DB 'Hi$'\r\n"                 // 2
    "BUF     DB 5, ?, 5 DUP(?)\r\n"        // 3
    "DATA    ENDS\r\n"                     // 4
    "CODE    SEGMENT\r\n"                  // 5
    "        ASSUME CS:CODE, DS:DATA\r\n"  // 6
    "START:  MOV AX, DATA\r\n"             // 7
    "        MOV DS, AX\r\n"               // 8
    "        MOV DX, OFFSET MSG\r\n"       // 9
    "        CALL PRINT     ; show it\r\n" // 10
    "        MOV AH, 01H\r\n"              // 11
    "        INT 21H\r\n"                  // 12
    "        MOV DX, OFFSET BUF\r\n"       // 13
    "        MOV AH, 0AH\r\n"              // 14
    "        INT 21H\r\n"                  // 15
    "        MOV AX, 4C00H\r\n"            // 16
    "        INT 21H\r\n"                  // 17
    "PRINT:  MOV AH, 09H\r\n"              // 18
    "        INT 21H\r\n"                  // 19
    "        RET\r\n"                      // 20
    "CODE    ENDS\r\n"                     // 21
    "        END START\r\n";               // 22

// One key per pass of the event loop, `gapMs` apart: the program takes each key from the
// mailbox before the next arrives.
inline void TypeLater(QPlainTextEdit* screen, const QString& keys, int gapMs) {
  for (int i = 0; i < keys.size(); ++i) {
    const QChar c = keys[i];
    QTimer::singleShot(gapMs * i, screen, [screen, c] {
      if (c == '\r') QTest::keyClick(screen, Qt::Key_Return);
      else QTest::keyClick(screen, c.toLatin1());
    });
  }
}
