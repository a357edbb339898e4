#pragma once

#include <QString>
#include <exception>

// Base of every failure that carries a text meant for the user.
class Error : public std::exception {
public:
    virtual QString description() const = 0;
    const char *what() const noexcept override;

private:
    mutable QByteArray m_what;
};
