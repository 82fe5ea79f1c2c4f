// Names of the Open Client datatype codes and the text width of a result column, shared by every
// component that describes columns.
#pragma once

#include <QString>

// The name of a datatype code as `ct_describe` reports it.
QString NorvTypeName(int code);

// Characters needed to show a value of the column as text, never less than its name's length.
int NorvDisplayLength(int maxLength, int code, int nameLength);
