-- Runs data/wireshark/vorz.lua outside Wireshark, on a plain Lua interpreter (5.4 here, the Lua of
-- newer Wireshark releases; Debian 12's Wireshark embeds 5.2), against the part of Wireshark's Lua
-- API the dissector uses. The API is imitated only as far as it matters for finding faults:
-- byte ranges are checked against the packet, integer fields must get integer values, and UDP
-- dispatch follows Wireshark's order (a port the dissector registered, then the heuristic).
--
--   lua5.4 wslua_stub.lua vorz.lua PACKETS
--
-- PACKETS: one line per frame, "frame src_port dst_port p2p_dir hex" (src_port "-" for an
-- Exported PDU record of the serial link). Prints "frame<TAB>Info column" for every frame the
-- dissector takes, and fails on the first error.

local dissector_file, packets_file = arg[1], arg[2]

local function is_integer(v)
    if math.type then return math.type(v) == "integer" end
    return type(v) == "number" and v == math.floor(v)
end

-- --- Fields, protocols, experts. -------------------------------------------------------------

local INTEGER_KINDS = { uint8 = true, uint16 = true, uint32 = true }
ProtoField = {}
for _, kind in ipairs({ "uint8", "uint16", "uint32", "string", "ipv4", "ether", "bytes", "bool" }) do
    ProtoField[kind] = function(abbr) return { kind = kind, abbr = abbr } end
end
ProtoExpert = { new = function(abbr) return { abbr = abbr } end }
expert = {
    group = { CHECKSUM = 1, MALFORMED = 2, PROTOCOL = 3, RESPONSE_CODE = 4, COMMENTS_GROUP = 5 },
    severity = { ERROR = 1, WARN = 2, NOTE = 3 },
}
base = { DEC = 1, HEX = 2 }

local protocols, ports, heuristics = {}, {}, {}
function Proto(name)
    local p = { name = name }
    function p.register_heuristic(self, list, fn) heuristics[#heuristics + 1] = fn end
    protocols[name] = p
    return p
end

DissectorTable = {
    get = function(name)
        assert(name == "udp.port", "unexpected dissector table " .. name)
        return { add = function(_, port, proto) ports[port] = proto end }
    end,
}

local current_udp = nil -- the UDP source port of the packet being dissected, nil for serial
Field = {
    new = function(name)
        assert(name == "udp.srcport", "unexpected field " .. name)
        return function() return current_udp end
    end,
}

-- --- Packets. -------------------------------------------------------------------------------

local function new_range(tvb, offset, length)
    assert(offset >= 0 and length >= 0 and offset + length <= #tvb.data,
        string.format("out of bounds: %d+%d of %d", offset, length, #tvb.data))
    local r = { tvb = tvb, offset = offset, length = length }
    function r.uint(self)
        assert(self.length >= 1 and self.length <= 4)
        local v = 0
        for i = 1, self.length do v = v * 256 + string.byte(tvb.data, offset + i) end
        return v
    end
    function r.le_uint(self)
        assert(self.length >= 1 and self.length <= 4)
        local v = 0
        for i = self.length, 1, -1 do v = v * 256 + string.byte(tvb.data, offset + i) end
        return v
    end
    function r.bytes(self) return string.sub(tvb.data, offset + 1, offset + length) end
    function r.ipv4(self)
        assert(self.length == 4)
        local text = string.format("%d.%d.%d.%d", string.byte(tvb.data, offset + 1, offset + 4))
        return setmetatable({}, { __tostring = function() return text end })
    end
    return r
end

local function new_tvb(data)
    local tvb = { data = data }
    function tvb.len(self) return #self.data end
    function tvb.raw(self, offset, length)
        new_range(self, offset, length)
        return string.sub(self.data, offset + 1, offset + length)
    end
    return setmetatable(tvb, {
        __call = function(self, offset, length)
            if offset == nil then return new_range(self, 0, #self.data) end
            return new_range(self, offset, length or (#self.data - offset))
        end,
    })
end

-- --- The tree. -------------------------------------------------------------------------------

local function check_add(what, range, value)
    assert(type(range) == "table" and range.tvb, "an item needs a byte range")
    if type(what) == "table" and what.kind and value ~= nil then
        if INTEGER_KINDS[what.kind] then
            assert(is_integer(value), what.abbr .. " gets a value that is not an integer: " .. tostring(value))
        elseif what.kind == "bool" then
            assert(type(value) == "boolean", what.abbr .. " gets a value that is not a boolean")
        elseif what.kind == "string" then
            assert(type(value) == "string", what.abbr .. " gets a value that is not a string")
        end
    end
end

local function new_item()
    local item = {}
    function item.add(self, what, range, value)
        check_add(what, range, value)
        return new_item()
    end
    item.add_le = item.add
    function item.add_proto_expert_info(self, e, text)
        assert(type(e) == "table" and e.abbr, "expert info needs a ProtoExpert")
        assert(text == nil or type(text) == "string")
    end
    function item.set_generated() end
    function item.set_text(self, text) assert(type(text) == "string") end
    function item.append_text(self, text) assert(type(text) == "string") end
    return item
end

-- --- Dispatch. -------------------------------------------------------------------------------

dofile(dissector_file)
local vorz = assert(protocols.vorz, "the dissector registers no protocol vorz")

local function dissect(frame, src, dst, p2p, hex)
    local data = (hex:gsub("..", function(h) return string.char(tonumber(h, 16)) end))
    local pinfo = { cols = {}, src_port = src or 0, dst_port = dst or 0, p2p_dir = p2p }
    local tvb = new_tvb(data)
    current_udp = src
    local taken
    if src == nil then
        taken = vorz.dissector(tvb, pinfo, new_item()) > 0
    else
        local port_dissector = ports[math.min(src, dst)] or ports[math.max(src, dst)]
        taken = port_dissector ~= nil and port_dissector.dissector(tvb, pinfo, new_item()) > 0
        if not taken then
            for _, h in ipairs(heuristics) do
                local result = h(tvb, pinfo, new_item())
                assert(type(result) == "boolean", "a heuristic dissector returns whether it took the packet")
                if result then taken = true break end
            end
        end
    end
    if taken then
        assert(type(pinfo.cols.info) == "string", "no Info column for frame " .. frame)
        print(frame .. "\t" .. pinfo.cols.info)
    end
end

for line in io.lines(packets_file) do
    local frame, src, dst, p2p, hex = line:match("^(%d+) (%S+) (%S+) (%S+) (%x*)$")
    assert(frame, "bad line: " .. line)
    dissect(tonumber(frame), tonumber(src), tonumber(dst), tonumber(p2p), hex)
end
