// A CUserDialogs stand-in for the builder tests: it records every message
// and question and answers from scripts queued by the test. A question or
// dialog that finds no scripted answer is recorded as unexpected and
// answered No / Cancel / cancelled, so a test never blocks.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "builder/user_dialogs.h"

namespace morvane::test {

class ScriptedDialogs : public CUserDialogs {
  public:
    void Message(const std::string& text) override { messages.push_back(text); }

    bool AskYesNo(const std::string& question) override {
        questions.push_back(question);
        if (answers.empty()) {
            unexpected.push_back("question: " + question);
            return false;
        }
        bool answer = answers.front();
        answers.pop_front();
        return answer;
    }

    Answer AskYesNoCancel(const std::string& question) override {
        questions.push_back(question);
        if (choices.empty()) {
            unexpected.push_back("question: " + question);
            return Answer::kCancel;
        }
        Answer answer = choices.front();
        choices.pop_front();
        return answer;
    }

    bool ChangeFileName(const std::string& path, std::string& chosen) override {
        changeNameOpenedWith.push_back(path);
        if (newPaths.empty()) {
            unexpected.push_back("Change File Name");
            return false;
        }
        std::optional<std::string> next = newPaths.front();
        newPaths.pop_front();
        if (!next) return false;
        chosen = *next;
        return true;
    }

    bool BrowseForFolder(const std::string& title, const std::string& rootDirectory,
                         const std::string& startDirectory, std::string& chosen) override {
        browseTitles.push_back(title);
        browseRoots.push_back(rootDirectory);
        browseStarts.push_back(startDirectory);
        if (folders.empty()) {
            unexpected.push_back("folder browser");
            return false;
        }
        std::optional<std::string> next = folders.front();
        folders.pop_front();
        if (!next) return false;
        chosen = *next;
        return true;
    }

    void About() override { ++aboutCount; }

    // The last message, or "" when there was none.
    std::string LastMessage() const { return messages.empty() ? "" : messages.back(); }

    std::vector<std::string> messages;
    std::vector<std::string> questions;
    std::deque<bool> answers;
    std::deque<Answer> choices;                 // AskYesNoCancel answers
    std::deque<std::optional<std::string>> newPaths;  // ChangeFileName results; nullopt: Escape
    std::deque<std::optional<std::string>> folders;  // nullopt: the user cancels
    std::vector<std::string> changeNameOpenedWith;
    std::vector<std::string> browseTitles;
    std::vector<std::string> browseRoots;
    std::vector<std::string> browseStarts;
    std::vector<std::string> unexpected;
    int aboutCount = 0;
};

}  // namespace morvane::test
