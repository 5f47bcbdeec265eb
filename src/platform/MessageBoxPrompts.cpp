#include "platform/MessageBoxPrompts.h"

#include <QMessageBox>

namespace pagewren {

bool MessageBoxPrompts::confirm(const std::string& caption, const std::string& text)
{
    const auto answer = QMessageBox::question(nullptr, QString::fromStdString(caption),
                                              QString::fromStdString(text),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return answer == QMessageBox::Yes;
}

void MessageBoxPrompts::warning(const std::string& text)
{
    QMessageBox::warning(nullptr, QStringLiteral("Warning"), QString::fromStdString(text));
}

void MessageBoxPrompts::error(const std::string& text)
{
    QMessageBox::critical(nullptr, QStringLiteral("Error"), QString::fromStdString(text));
}

} // namespace pagewren
