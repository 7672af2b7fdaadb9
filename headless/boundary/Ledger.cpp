#include "headless/boundary/Ledger.h"

#include <sstream>

namespace headless {

std::string Ledger::suiteKey(std::string_view name, A_long version) {
    std::string key = "suite \"";
    key.append(name);
    key += "\" v";
    key += std::to_string(version);
    return key;
}

void Ledger::add(std::string_view counter, long delta) {
    std::lock_guard lock(mutex_);
    auto it = counters_.find(counter);
    if (it == counters_.end()) it = counters_.emplace(std::string(counter), 0).first;
    if (it->second + delta < 0) {
        problems_.push_back("released more " + it->first + " than were held");
        it->second = 0;
        return;
    }
    it->second += delta;
}

long Ledger::count(std::string_view counter) const {
    std::lock_guard lock(mutex_);
    auto it = counters_.find(counter);
    return it == counters_.end() ? 0 : it->second;
}

long Ledger::suiteCount(std::string_view name, A_long version) const {
    return count(suiteKey(name, version));
}

void Ledger::problem(std::string text) {
    std::lock_guard lock(mutex_);
    problems_.push_back(std::move(text));
}

std::vector<std::string> Ledger::problems() const {
    std::lock_guard lock(mutex_);
    return problems_;
}

std::map<std::string, long> Ledger::outstanding() const {
    std::lock_guard lock(mutex_);
    std::map<std::string, long> result;
    for (const auto &[name, value] : counters_)
        if (value != 0) result.emplace(name, value);
    return result;
}

bool Ledger::empty() const {
    std::lock_guard lock(mutex_);
    if (!problems_.empty()) return false;
    for (const auto &entry : counters_)
        if (entry.second != 0) return false;
    return true;
}

std::string Ledger::report() const {
    std::lock_guard lock(mutex_);
    std::ostringstream out;
    bool any = false;
    for (const auto &[name, value] : counters_) {
        if (value == 0) continue;
        out << "outstanding: " << value << ' ' << name << '\n';
        any = true;
    }
    for (const auto &text : problems_) {
        out << "problem: " << text << '\n';
        any = true;
    }
    if (!any) out << "ledger empty\n";
    return out.str();
}

void Ledger::clear() {
    std::lock_guard lock(mutex_);
    counters_.clear();
    problems_.clear();
}

} // namespace headless
