#pragma once

#include "CardDav.h"

// The error a call of the client throws; a "no error" one when it throws none.
template <typename Call>
ESyncError ErrorOf(Call&& Do) {
  try {
    Do();
  } catch (const ESyncError& Error) {
    return Error;
  }
  return ESyncError(ESyncErrorKind::Server, QStringLiteral("no error"), -1);
}
