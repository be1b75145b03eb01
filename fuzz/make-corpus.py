#!/usr/bin/env python3
"""Writes the reply fuzzer's seed inputs into fuzz/corpus/ (the files there are
committed; run this again after changing the input layout in ReplyFuzzer.cpp).

An input is a selector byte, for the exchange a length byte and the request,
then the device's replies: a length byte and that many bytes per read.
"""
from pathlib import Path

EXCHANGE, DOWNLOAD, FLASHING, TEST_BLOCK = 0, 1, 2, 3
EEPROM = 0x04


def selector(operation, eeprom=False, retries=0, file=0):
    return bytes([operation | (EEPROM if eeprom else 0) | (retries << 3) | (file << 5)])


def read(*data):
    return bytes([len(data), *data])


SILENCE = read()
ACCEPTED = read(0x00, 0x00, 0x41, 0x00)  # the device's loader takes a request
REFUSED = read(0x00, 0x00, 0x1F, 0x00)
WAKE_ACK = read(0x79)
# The ROM bootloader answers one byte; the exchange then reads on to its limit.
ROM_ACK = read(0x79) + SILENCE * 7
ROM_NACK = read(0x1F) + SILENCE * 7


def request(*data):
    return bytes([len(data), *data])


def flashing_run(records, data_answer=ROM_ACK, eeprom=False):
    erase = 4 if eeprom else 2
    options = 4 * 3
    return WAKE_ACK + ROM_ACK * (erase + options) + (ROM_ACK * 2 + data_answer) * records + ROM_ACK


SEEDS = {
    "exchange-accepted": selector(EXCHANGE) + request(0x01, 0x02, 0x03) + ACCEPTED,
    "exchange-split-reply": selector(EXCHANGE) + request(0x01) + read(0x00, 0x00) + read(0x41, 0x00),
    "exchange-refused": selector(EXCHANGE) + request(0x01) + REFUSED,
    "exchange-silence": selector(EXCHANGE) + request(0x01),
    "exchange-empty-request": selector(EXCHANGE) + request(),
    "test-block-accepted": selector(TEST_BLOCK) + ACCEPTED,
    # The download files: 0 empty, 1 64 bytes, 2 150 bytes, 3 missing.
    "download-accepted": selector(DOWNLOAD, file=2) + WAKE_ACK + ACCEPTED * 3,
    "download-whole-block": selector(DOWNLOAD, file=1) + WAKE_ACK + ACCEPTED * 2,
    "download-empty-file": selector(DOWNLOAD, file=0) + WAKE_ACK + ACCEPTED,
    "download-late-wake": selector(DOWNLOAD, retries=3, file=2) + read(0x00) + SILENCE + WAKE_ACK + ACCEPTED * 3,
    "download-refused": selector(DOWNLOAD, file=2) + WAKE_ACK + ACCEPTED + REFUSED,
    "download-silence": selector(DOWNLOAD, file=2),
    "download-missing-file": selector(DOWNLOAD, file=3) + WAKE_ACK + ACCEPTED,
    # The flashing images: 0 two program records, 1 EEPROM records only,
    # 2 wrong program marker, 3 missing. With EEPROM checked the first image
    # has 10 records to write, the second 8.
    "flashing-all-acks": selector(FLASHING, file=0) + flashing_run(2),
    "flashing-eeprom-all-acks": selector(FLASHING, eeprom=True, file=0) + flashing_run(10, eeprom=True),
    "flashing-eeprom-image": selector(FLASHING, eeprom=True, file=1) + flashing_run(8, eeprom=True),
    "flashing-record-refused": selector(FLASHING, file=0) + flashing_run(2, data_answer=ROM_NACK),
    "flashing-bad-marker": selector(FLASHING, file=2) + flashing_run(2),
    "flashing-silence": selector(FLASHING, file=0),
}


def main():
    folder = Path(__file__).resolve().parent / "corpus"
    folder.mkdir(exist_ok=True)
    for old in folder.iterdir():
        old.unlink()
    for name, data in SEEDS.items():
        (folder / name).write_bytes(data)


if __name__ == "__main__":
    main()
