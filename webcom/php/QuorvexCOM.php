<?php
/*
 * QuorvexCOM.php: the web-mail component QuorvexCOM.so for PHP pages, through
 * PHP's FFI extension (allowed for the web-mail pages with
 * "php_admin_value ffi.enable 1"; the command line allows it by default).
 *
 *     require 'QuorvexCOM.php';
 *     $pop3 = new QuorvexCOM('QuorvexCOM.POP3');
 *     $pop3->Login($user, $password);
 *     if ($pop3->LoginSuccess) {
 *         $pop3->GetMailData(1);
 *         echo htmlspecialchars($pop3->Subject);
 *     }
 *
 * Objects are created as COM creates them: the ProgID is looked up in the
 * registration file the component writes beside itself ("ComRegistry.ini":
 * ProgID -> CLSID -> InprocServer32, the library), and the library is loaded
 * with the declarations of QuorvexCOM.h. Methods and properties map onto the
 * component's members: $obj->Method(...) calls, $obj->Property reads,
 * $obj->Property = $v writes, $obj->Value('name') reads an indexed property
 * and $obj->propertyPut('Value', 'name', $v) writes one. Integers, strings
 * (bytes, unchanged) and null pass as they are; QuorvexRequest and
 * QuorvexResponse pass the request body and the response to the component
 * (form uploads, downloads). Calls the component cannot match throw
 * QuorvexCOMException; everything else is reported the component's way, in
 * LastResponse and the like, and lastStatus() gives 0 (S_OK) or 1 (S_FALSE).
 */

final class QuorvexCOMException extends RuntimeException
{
}

final class QuorvexCOM
{
    public const METHOD = 1;
    public const PROPERTY_GET = 2;
    public const PROPERTY_PUT = 4;

    /** The registration file; empty: $QUORVEX_COM_REGISTRY, else the default program folder's. */
    public static string $registry = '';
    public const DEFAULT_REGISTRY = '/var/lib/quorvex/ComRegistry.ini';

    /** One FFI instance per library file. */
    private static array $libraries = [];

    private FFI $ffi;
    private ?FFI\CData $object = null;
    private array $dispids = [];
    private int $status = 0;

    public function __construct(string $progid, ?string $registry = null)
    {
        $file = $registry ?? (self::$registry !== '' ? self::$registry
            : (getenv('QUORVEX_COM_REGISTRY') ?: self::DEFAULT_REGISTRY));
        [$clsid, $library] = self::lookUp($file, $progid);
        $this->ffi = self::load($library);
        $out = $this->ffi->new('QvxObject*');
        $status = $this->ffi->QvxCreateObject($clsid, FFI::addr($out));
        if ($status !== 0) {
            throw new QuorvexCOMException(sprintf('cannot create %s (status 0x%08X)', $progid, $status & 0xFFFFFFFF), $status);
        }
        $this->object = $out;
    }

    public function __destruct()
    {
        if ($this->object !== null) {
            $this->ffi->QvxRelease($this->object);
            $this->object = null;
        }
    }

    public function __call(string $name, array $args): mixed
    {
        return $this->invoke($name, self::METHOD | self::PROPERTY_GET, $args);
    }

    public function __get(string $name): mixed
    {
        return $this->invoke($name, self::PROPERTY_GET, []);
    }

    public function __set(string $name, mixed $value): void
    {
        $this->invoke($name, self::PROPERTY_PUT, [$value]);
    }

    /** Writes an indexed property: the index arguments, then the new value. */
    public function propertyPut(string $name, mixed ...$args): void
    {
        $this->invoke($name, self::PROPERTY_PUT, $args);
    }

    /** The status of the last call: 0 (S_OK) or 1 (S_FALSE). */
    public function lastStatus(): int
    {
        return $this->status;
    }

    /** @internal The FFI instance, for the host-object adapters. */
    public function ffi(): FFI
    {
        return $this->ffi;
    }

    private function invoke(string $name, int $flags, array $args): mixed
    {
        $key = strtolower($name);
        if (!isset($this->dispids[$key])) {
            $dispid = $this->ffi->new('int32_t');
            $status = $this->ffi->QvxGetIDOfName($this->object, $name, FFI::addr($dispid));
            if ($status !== 0) {
                throw new QuorvexCOMException(sprintf('unknown member %s (status 0x%08X)', $name, $status & 0xFFFFFFFF), $status);
            }
            $this->dispids[$key] = $dispid->cdata;
        }
        $count = count($args);
        $values = $this->ffi->new('QvxValue[' . max(1, $count) . ']');
        $keep = [];
        foreach (array_values($args) as $i => $arg) {
            $this->marshal($values[$i], $arg, $keep);
        }
        $result = $this->ffi->new('QvxValue');
        $status = $this->ffi->QvxInvoke($this->object, $this->dispids[$key], $flags, $values, $count, FFI::addr($result));
        unset($keep);
        if ($status < 0) {
            throw new QuorvexCOMException(sprintf('%s failed (status 0x%08X)', $name, $status & 0xFFFFFFFF), $status);
        }
        $this->status = $status;
        return match ($result->type) {
            3 => $result->i4,
            8, 17 => $result->size > 0 ? FFI::string($result->data, $result->size) : '',
            default => null,
        };
    }

    private function marshal(FFI\CData $value, mixed $arg, array &$keep): void
    {
        if ($arg === null) {
            $value->type = 0;
        } elseif (is_int($arg) || is_bool($arg)) {
            $value->type = 3;
            $value->i4 = (int)$arg;
        } elseif ($arg instanceof QuorvexHostObject) {
            $host = $arg->bind($this->ffi);
            $keep[] = $host;
            $value->type = $arg->valueType();
            $value->host = FFI::cast('void*', FFI::addr($host));
        } else {
            $text = (string)$arg;
            $length = strlen($text);
            $buffer = $this->ffi->new('char[' . ($length + 1) . ']');
            if ($length > 0) {
                FFI::memcpy($buffer, $text, $length);
            }
            $keep[] = $buffer;
            $value->type = 8;
            $value->data = FFI::cast('char*', FFI::addr($buffer[0]));
            $value->size = $length;
        }
    }

    /** [CLSID, library path] of a ProgID in the registration file. */
    private static function lookUp(string $file, string $progid): array
    {
        $text = @file_get_contents($file);
        if ($text === false) {
            throw new QuorvexCOMException("cannot read the registration file $file");
        }
        $sections = [];
        $current = null;
        foreach (preg_split('/\r\n|\n|\r/', $text) as $line) {
            $line = trim($line);
            if ($line !== '' && $line[0] === '[' && str_ends_with($line, ']')) {
                $current = strtolower(trim(substr($line, 1, -1)));
                $sections[$current] ??= [];
            } elseif ($current !== null && ($eq = strpos($line, '=')) !== false) {
                $key = strtolower(trim(substr($line, 0, $eq)));
                $sections[$current][$key] ??= trim(substr($line, $eq + 1));
            }
        }
        $clsid = $sections[strtolower($progid . '\\CLSID')]['@'] ?? '';
        $library = $clsid !== '' ? ($sections[strtolower('CLSID\\' . $clsid . '\\InprocServer32')]['@'] ?? '') : '';
        if ($library === '') {
            throw new QuorvexCOMException("$progid is not registered in $file");
        }
        return [$clsid, $library];
    }

    private static function load(string $library): FFI
    {
        if (!isset(self::$libraries[$library])) {
            $header = null;
            foreach ([__DIR__, dirname($library), '/usr/local/include', '/usr/include'] as $folder) {
                if (is_readable("$folder/QuorvexCOM.h")) {
                    $header = "$folder/QuorvexCOM.h";
                    break;
                }
            }
            if ($header === null) {
                throw new QuorvexCOMException('QuorvexCOM.h not found');
            }
            self::$libraries[$library] = FFI::cdef(file_get_contents($header), $library);
        }
        return self::$libraries[$library];
    }
}

/** A web server object the component calls back: the request or the response. */
abstract class QuorvexHostObject
{
    /** The C structure with this object's callbacks, made in the component's FFI scope. */
    abstract public function bind(FFI $ffi): FFI\CData;

    abstract public function valueType(): int;
}

/** The response: the content type and headers go to header(), the bytes to the output. */
final class QuorvexResponse extends QuorvexHostObject
{
    public function bind(FFI $ffi): FFI\CData
    {
        $response = $ffi->new('QvxResponse');
        $response->SetContentType = function ($ctx, $type): int {
            header('Content-Type: ' . $type);
            return 0;
        };
        $response->AddHeader = function ($ctx, $name, $value): int {
            // header() refuses a value holding a line break; the component never sends one.
            header($name . ': ' . $value);
            return 0;
        };
        $response->BinaryWrite = function ($ctx, $data, $size): int {
            echo FFI::string($data, $size);
            return 0;
        };
        return $response;
    }

    public function valueType(): int
    {
        return 101;
    }
}

/** The request: the body as PHP's input stream gives it (for multipart forms the page's directory sets
 *  enable_post_data_reading off, so that PHP leaves the body to the component). */
final class QuorvexRequest extends QuorvexHostObject
{
    private $stream = null;

    public function bind(FFI $ffi): FFI\CData
    {
        $request = $ffi->new('QvxRequest');
        $request->TotalBytes = function ($ctx, $total): int {
            $total[0] = (int)($_SERVER['CONTENT_LENGTH'] ?? 0);
            return 0;
        };
        $request->BinaryRead = function ($ctx, $buffer, $count): int {
            $this->stream ??= fopen('php://input', 'rb');
            $chunk = $this->stream ? fread($this->stream, max(0, $count[0])) : false;
            if ($chunk === false) {
                return -1;
            }
            if ($chunk !== '') {
                FFI::memcpy($buffer, $chunk, strlen($chunk));
            }
            $count[0] = strlen($chunk);
            return 0;
        };
        return $request;
    }

    public function valueType(): int
    {
        return 100;
    }
}
