#include "viewer/counter_selection.h"

#include <chrono>
#include <set>

#include "reader/instance_names.h"

namespace qvperf {

namespace {

std::string JoinNames(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
    return out.empty() ? "none" : out;
}

}  // namespace

Sample BuildSample(const DecodeResult& decoded, const TitleNames& titles,
                   const std::vector<CounterPath>& paths, int sequence) {
    Sample sample;
    sample.sequence = sequence;
    sample.time = std::chrono::system_clock::now();
    // Per object, the names its rows share and which values are taken already.
    std::vector<std::vector<SharedName>> instanceNames(decoded.objects.size());
    std::vector<std::vector<SharedName>> counterNames(decoded.objects.size());
    std::vector<std::vector<bool>> taken(decoded.objects.size());
    for (std::size_t o = 0; o < decoded.objects.size(); ++o) {
        const PerfObject& object = decoded.objects[o];
        for (std::string& name : UniqueInstanceNames(object.instances))
            instanceNames[o].push_back(std::move(name));
        for (const CounterDefinition& counter : object.counters)
            counterNames[o].push_back(titles.Name(counter.nameIndex));
        taken[o].assign(object.instances.size() * object.counters.size(), false);
    }
    std::size_t values = 0;
    for (const std::vector<bool>& objectValues : taken) values += objectValues.size();
    sample.rows.reserve(values);  // each value once at most
    for (const CounterPath& path : paths) {
        for (std::size_t o = 0; o < decoded.objects.size(); ++o) {
            const PerfObject& object = decoded.objects[o];
            const SharedName objectName = titles.Name(object.nameIndex);
            if (!NameMatches(path.object, objectName)) continue;
            for (std::size_t n = 0; n < object.instances.size(); ++n) {
                const Instance& instance = object.instances[n];
                for (std::size_t i = 0; i < object.counters.size() && i < instance.values.size(); ++i) {
                    const std::size_t value = n * object.counters.size() + i;
                    if (taken[o][value] ||
                        !PathSelects(path, objectName, instanceNames[o][n], counterNames[o][i]))
                        continue;
                    taken[o][value] = true;
                    SampleRow row;
                    row.object = objectName;
                    row.instance = instanceNames[o][n];
                    row.counter = counterNames[o][i];
                    row.numeric = instance.values[i].numeric;
                    row.number = instance.values[i].number;
                    if (!row.numeric) row.text = instance.values[i].text;
                    sample.rows.push_back(std::move(row));
                }
            }
        }
    }
    if (sample.rows.size() * 2 < sample.rows.capacity()) sample.rows.shrink_to_fit();
    return sample;
}

std::string CheckPath(const CounterPath& path, const DecodeResult& decoded,
                      const TitleNames& titles, bool needsValues) {
    std::vector<std::string> objects, counters, instances;
    bool objectFound = false, counterFound = false, instanceFound = false;
    for (const PerfObject& object : decoded.objects) {
        const std::string name = titles.Name(object.nameIndex);
        objects.push_back("\"" + name + "\"");
        if (!NameMatches(path.object, name)) continue;
        objectFound = true;
        bool counterHere = false;
        for (const CounterDefinition& counter : object.counters) {
            const std::string counterName = titles.Name(counter.nameIndex);
            counters.push_back("\"" + counterName + "\"");
            counterHere = counterHere || NameMatches(path.counter, counterName);
        }
        if (!counterHere) continue;
        counterFound = true;
        if (!path.hasInstance) {
            instanceFound = instanceFound || !object.hasInstances;
            continue;
        }
        if (path.instance == "*" && !needsValues) {
            instanceFound = true;
            continue;
        }
        for (const std::string& instance : UniqueInstanceNames(object.instances)) {
            instances.push_back("\"" + instance + "\"");
            instanceFound = instanceFound || NameMatches(path.instance, instance);
        }
    }
    const std::string shown = CounterPathText(path);
    if (!objectFound) return shown + ": no object \"" + path.object + "\"; objects: " + JoinNames(objects);
    if (!counterFound)
        return shown + ": no counter \"" + path.counter + "\"; counters: " + JoinNames(counters);
    if (instanceFound) return {};
    if (!path.hasInstance)
        return shown + ": the object has instances; name one, or all with (*)";
    if (instances.empty())
        return shown + ": no instance \"" + path.instance +
               "\": the object has no instances now (is the server publishing?)";
    return shown + (HasWildcard(path.instance) ? ": no instance matches \"" : ": no instance \"") +
           path.instance + "\"; instances: " + JoinNames(instances);
}

std::vector<std::string> ObjectsWithoutInstances(const DecodeResult& decoded,
                                                 const TitleNames& titles,
                                                 const std::vector<CounterPath>& paths) {
    std::vector<std::string> names;
    for (const PerfObject& object : decoded.objects) {
        const std::string name = titles.Name(object.nameIndex);
        bool selected = false;
        for (const CounterPath& path : paths) selected = selected || NameMatches(path.object, name);
        if (selected && object.hasInstances && object.instances.empty()) names.push_back(name);
    }
    return names;
}

std::string FormatCounterList(const DecodeResult& decoded, const TitleNames& titles,
                              const std::vector<CounterPath>& paths, bool expand) {
    std::string out;
    std::set<std::string> seen;
    auto add = [&](const std::string& line) {
        if (seen.insert(line).second) out += line + "\n";
    };
    for (const PerfObject& object : decoded.objects) {
        const std::string name = titles.Name(object.nameIndex);
        const std::vector<std::string> instances = UniqueInstanceNames(object.instances);
        for (const CounterDefinition& counter : object.counters) {
            const std::string counterName = titles.Name(counter.nameIndex);
            for (const CounterPath& path : paths) {
                if (!object.hasInstances) {
                    if (PathSelects(path, name, "", counterName)) add("\\" + name + "\\" + counterName);
                } else if (!expand) {
                    if (NameMatches(path.object, name) && NameMatches(path.counter, counterName) &&
                        path.hasInstance)
                        add("\\" + name + "(*)\\" + counterName);
                } else {
                    for (const std::string& instance : instances)
                        if (PathSelects(path, name, instance, counterName))
                            add("\\" + name + "(" + instance + ")\\" + counterName);
                }
            }
        }
    }
    return out;
}

}  // namespace qvperf
