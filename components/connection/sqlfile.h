#pragma once

#include <QString>

// Reads a text file into one string: every line preceded by a single blank, the line breaks
// dropped. Raises ENorvException when the file cannot be read.
QString ReadSqlFile(const QString& path);
